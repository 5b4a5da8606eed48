// The popover by keyboard alone, as a person without a mouse (or with a screen reader) uses it.
#include "testlib/Pixels.h"
#include "testlib/StateHarness.h"
#include "ui/kit/PriceAlertListView.h"
#include "ui/kit/SpringAnimation.h"
#include "ui/popover/AddTokenSheet.h"
#include "ui/popover/MenuBarPopoverView.h"
#include "ui/popover/MenuWatchlistRowView.h"
#include "ui/popover/PriceAlertPanel.h"
#include "ui/popover/SearchResultListView.h"
#include "ui/popover/SearchResultRowView.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTest>

namespace {

QWidget* child(const QWidget& parent, const char* name)
{
    return parent.findChild<QWidget*>(QLatin1String(name));
}

// A state over the first `count` tokens of the catalog, their first refresh answered.
AppState& started(StateHarness& h, int count)
{
    const QList<TokenSummary> catalog = TokenSummary::fallbackCatalog();
    QList<QString> ids;
    for (int i = 0; i < count; ++i) {
        ids.append(catalog.at(i).id);
    }
    h.storeEntries(ids);
    AppState& state = h.make();
    h.settle();
    h.service->answerRefresh(catalog.mid(0, count));
    h.settle();
    return state;
}

// Shown at its hosted size and active, as the shell opens it.
void showActive(MenuBarPopoverView& view)
{
    view.resize(MenuBarPopoverView::kHostedSize);
    view.show();
    view.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&view));
    StateHarness::settle();
}

void key(Qt::Key key, Qt::KeyboardModifiers modifiers = {})
{
    QTest::keyClick(QApplication::focusWidget(), key, modifiers);
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
        AppState& state = started(h, 3);
        h.service->autoSearchAnswer = QList<TokenSummary>{TokenSummary::fallbackCatalog().at(4)};
        MenuBarPopoverView view(state);
        showActive(view);
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

    // The open row's alert panel follows the list in the Tab order; an alert is added, turned off
    // and deleted with keys alone, and a number that cannot be a threshold adds nothing.
    void alertPanelByKeyboard()
    {
        StateHarness h;
        AppState& state = started(h, 2);
        MenuBarPopoverView view(state);
        showActive(view);
        const auto focused = [] { return QApplication::focusWidget()->objectName(); };
        view.setFocus(Qt::PopupFocusReason);
        MenuWatchlistRowView* btc = view.row(QStringLiteral("BTC"));
        const int collapsed = btc->height();
        key(Qt::Key_Return);
        h.settle();
        auto* panel = qobject_cast<PriceAlertPanel*>(btc->accessory());
        QVERIFY(panel && panel->isVisible());
        QVERIFY(btc->height() > collapsed + panel->height());
        QCOMPARE(panel->field()->text(), QStringLiteral("79,200"));

        key(Qt::Key_Tab);
        QCOMPARE(focused(), QStringLiteral("priceAlertKind"));
        key(Qt::Key_Right);
        QCOMPARE(panel->field()->text(), QStringLiteral("71,700"));
        key(Qt::Key_Right);
        QCOMPARE(panel->field()->text(), QStringLiteral("5"));
        key(Qt::Key_Left);
        key(Qt::Key_Left);
        key(Qt::Key_Tab);
        QCOMPARE(focused(), QStringLiteral("priceAlertThreshold"));
        key(Qt::Key_Tab);
        QCOMPARE(focused(), QStringLiteral("priceAlertAdd"));
        key(Qt::Key_Space);
        QCOMPARE(state.priceAlerts().alerts().size(), 1);
        const PriceAlert added = state.priceAlerts().alerts().first();
        QCOMPARE(std::tuple(added.tokenID, added.kind, added.threshold),
                 std::tuple(QStringLiteral("BTC"), PriceAlert::Kind::Above, 79200.0));
        h.settle();
        QCOMPARE(panel->list()->findChild<QLabel*>("priceAlertCondition")->text(), QStringLiteral("高于 79,200.00"));

        // The new line's switch and delete come next; deleting hands the focus back to the add button.
        key(Qt::Key_Tab);
        QCOMPARE(focused(), QStringLiteral("priceAlertSwitch"));
        QAccessibleInterface* toggle = QAccessible::queryAccessibleInterface(QApplication::focusWidget());
        QCOMPARE(toggle->role(), QAccessible::CheckBox);
        QCOMPARE(toggle->text(QAccessible::Name), QStringLiteral("启用提醒：高于 79,200.00"));
        QVERIFY(toggle->state().checked);
        key(Qt::Key_Space);
        QVERIFY(!toggle->state().checked);
        QVERIFY(!state.priceAlerts().alerts().first().isEnabled);
        key(Qt::Key_Tab);
        QCOMPARE(focused(), QStringLiteral("priceAlertDelete"));
        key(Qt::Key_Space);
        QVERIFY(state.priceAlerts().alerts().isEmpty());
        QCOMPARE(focused(), QStringLiteral("priceAlertAdd"));
        h.settle();
        QCOMPARE(panel->list()->count(), 0);

        key(Qt::Key_Backtab);
        panel->field()->selectAll();
        QTest::keyClicks(panel->field(), QStringLiteral("-3"));
        key(Qt::Key_Return);
        QVERIFY(panel->isFieldInvalid());
        QVERIFY(state.priceAlerts().alerts().isEmpty());
        QCOMPARE(panel->findChild<QLabel*>("priceAlertMessage")->text(), QStringLiteral("请输入大于 0 的数字"));
        QTest::keyClicks(panel->field(), QStringLiteral("80000"));
        QVERIFY(!panel->isFieldInvalid());
        key(Qt::Key_Return);
        QCOMPARE(state.priceAlerts().alerts().size(), 1);

        // Past the panel the Tab order wraps to the header; collapsing takes the focus back to the row.
        key(Qt::Key_Tab);
        key(Qt::Key_Tab);
        key(Qt::Key_Tab);
        key(Qt::Key_Tab);
        QCOMPARE(focused(), QStringLiteral("addTokenButton"));
        key(Qt::Key_Backtab);
        QCOMPARE(focused(), QStringLiteral("priceAlertDelete"));
        state.toggleExpandedToken(QStringLiteral("BTC"));
        h.settle();
        QCOMPARE(QApplication::focusWidget(), btc);
        QCOMPARE(btc->height(), collapsed);
    }
};

QTEST_MAIN(TestPopoverKeyboard)
#include "tst_popoverkeyboard.moc"
