// The popover by keyboard alone, as a person without a mouse (or with a screen reader) uses it.
#include "testlib/Pixels.h"
#include "testlib/StateHarness.h"
#include "ui/kit/SpringAnimation.h"
#include "ui/popover/AddTokenSheet.h"
#include "ui/popover/MenuBarPopoverView.h"
#include "ui/popover/MenuWatchlistRowView.h"
#include "ui/popover/SearchResultListView.h"
#include "ui/popover/SearchResultRowView.h"

#include <QAccessible>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QTest>

namespace {

QWidget* child(const QWidget& parent, const char* name)
{
    return parent.findChild<QWidget*>(QLatin1String(name));
}

} // namespace

class TestPopoverKeyboard : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        SpringAnimation::setAnimationsEnabled(false);
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    }

    // Everything on both screens by key events alone, as a person without a mouse reaches it.
    void keyboardAloneWalksTheListAndTheSheet()
    {
        StateHarness h;
        const QList<TokenSummary> catalog = TokenSummary::fallbackCatalog();
        h.storeEntries({catalog.at(0).id, catalog.at(1).id, catalog.at(2).id});
        AppState& state = h.make();
        h.settle();
        h.service->answerRefresh(catalog.mid(0, 3));
        h.settle();
        h.service->autoSearchAnswer = QList<TokenSummary>{catalog.at(4)};
        MenuBarPopoverView view(state);
        view.resize(MenuBarPopoverView::kHostedSize);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        h.settle();
        view.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        const auto key = [](Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
            QTest::keyClick(QApplication::focusWidget(), key, modifiers);
        };
        const auto focusedRow = [] {
            const auto* row = qobject_cast<MenuWatchlistRowView*>(QApplication::focusWidget());
            return row ? row->token().id : QString();
        };

        // The popover focuses its content as it opens: the list takes it, without a ring.
        view.setFocus(Qt::PopupFocusReason);
        QCOMPARE(focusedRow(), QStringLiteral("BTC"));
        MenuWatchlistRowView* btc = view.row(QStringLiteral("BTC"));
        // What a screen reader reads of it: an item of a list, named by its figures, that expands.
        QAccessibleInterface* item = QAccessible::queryAccessibleInterface(btc);
        QCOMPARE(item->role(), QAccessible::ListItem);
        QCOMPARE(item->parent()->role(), QAccessible::List);
        QCOMPARE(item->text(QAccessible::Name),
                 QStringList({"BTC", "Bitcoin", btc->priceText(), btc->changeText()}).join(", "));
        QVERIFY(item->state().expandable && item->state().collapsed && item->state().focused);
        const QColor plain = Pixels::at(btc->grab().toImage(), btc->width() / 2.0, 1);
        key(Qt::Key_Up);
        key(Qt::Key_Down);
        QCOMPARE(focusedRow(), QStringLiteral("ETH"));
        key(Qt::Key_Return);
        QCOMPARE(state.expandedTokenID(), std::optional<QString>(QStringLiteral("ETH")));
        key(Qt::Key_Space);
        QCOMPARE(state.expandedTokenID(), std::nullopt);
        key(Qt::Key_Menu);
        QTRY_VERIFY(view.rowContextMenu()->isVisible());
        QCOMPARE(view.contextMenuTokenID(), std::optional<QString>(QStringLiteral("ETH")));
        view.rowContextMenu()->close();
        key(Qt::Key_Up);
        key(Qt::Key_F10, Qt::ShiftModifier);
        QTRY_VERIFY(view.rowContextMenu()->isVisible());
        QCOMPARE(view.contextMenuTokenID(), std::optional<QString>(QStringLiteral("BTC")));
        view.rowContextMenu()->close();
        // The offscreen platform leaves the closed menu active; a desktop hands the popover back.
        view.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        QTRY_COMPARE(focusedRow(), QStringLiteral("BTC"));
        // Moved by keys, the focus shows as a ring in the accent colour on the row's edge.
        const QColor ring = Pixels::at(btc->grab().toImage(), btc->width() / 2.0, 1);
        QVERIFY2(ring.blue() > ring.red() + 40 && ring != plain, Pixels::describe(ring));

        // Tab: the two header buttons, then back to the row the list was on.
        key(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), child(view, "addTokenButton"));
        key(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), child(view, "moreMenuButton"));
        key(Qt::Key_Tab);
        QCOMPARE(focusedRow(), QStringLiteral("BTC"));
        key(Qt::Key_Backtab);
        key(Qt::Key_Backtab);
        key(Qt::Key_Space);
        QVERIFY(state.isSearchPresented());

        // The sheet: typing goes to the field, Down enters the results, Return adds.
        AddTokenSheet* sheet = view.addTokenSheet();
        QTRY_VERIFY(sheet->searchField()->hasFocus());
        QTest::keyClicks(sheet->searchField(), QStringLiteral("x"));
        key(Qt::Key_Return);
        QTRY_COMPARE(sheet->content(), AddTokenSheet::Content::Results);
        key(Qt::Key_Down);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(sheet->resultList()->rowAt(0)));
        key(Qt::Key_Return);
        QCOMPARE(state.watchlistEntries().size(), 4);
        key(Qt::Key_Up);
        QVERIFY(sheet->searchField()->hasFocus());

        // Escape goes back to the list; another is left for the popover's window, which closes.
        key(Qt::Key_Escape);
        QVERIFY(!state.isSearchPresented());
        h.settle();
        QVERIFY(!focusedRow().isEmpty());
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(QApplication::focusWidget(), &escape);
        QVERIFY(!escape.isAccepted());
    }
};

QTEST_MAIN(TestPopoverKeyboard)
#include "tst_popoverkeyboard.moc"
