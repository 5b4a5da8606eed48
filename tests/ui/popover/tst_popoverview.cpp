#include "testlib/Pixels.h"
#include "testlib/StateHarness.h"
#include "ui/kit/SpringAnimation.h"
#include "ui/popover/AddTokenSheet.h"
#include "ui/popover/MenuBarPopoverView.h"
#include "ui/popover/MenuWatchlistRowView.h"
#include "ui/popover/PriceAlertNoticesView.h"
#include "ui/popover/RefreshErrorBannerView.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QCursor>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QRegularExpression>
#include <QScrollArea>
#include <QSignalSpy>
#include <QTest>
#include <QTextEdit>

using namespace std::chrono_literals;

namespace {

QList<TokenSummary> catalog(int count)
{
    return TokenSummary::fallbackCatalog().mid(0, count);
}

// A state listing `tokens` (the first pinned) whose first refresh answered with `snapshots`.
AppState& started(StateHarness& h, const QList<TokenSummary>& tokens, std::optional<QList<TokenSummary>> snapshots = {})
{
    QList<QString> ids;
    for (const TokenSummary& token : tokens) {
        ids.append(token.id);
    }
    h.storeEntries(ids);
    AppState& state = h.make();
    h.settle();
    h.service->answerRefresh(snapshots.value_or(tokens));
    h.settle();
    return state;
}

// Three tracked refreshes in a row fail with `error`.
void raiseBanner(StateHarness& h, const Error& error)
{
    for (int i = 0; i < 3; ++i) {
        h.sleeper->advance(30s);
        QTRY_COMPARE(h.service->waitingRefreshes(), 1);
        h.service->answerRefresh(error);
        QTRY_VERIFY(!h.state->isRefreshingWatchlist());
    }
    h.settle();
}

void show(MenuBarPopoverView& view)
{
    view.resize(MenuBarPopoverView::kHostedSize);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    StateHarness::settle();
}

template <typename T = QWidget> T* child(const QWidget& parent, const char* name)
{
    return parent.findChild<T*>(QLatin1String(name));
}

QStringList rowIDs(const MenuBarPopoverView& view)
{
    QStringList ids;
    for (const MenuWatchlistRowView* row : view.rows()) {
        ids.append(row->token().id);
    }
    return ids;
}

// A secondary click reaches a widget as a context-menu event (QTest's clicks do not make one).
void openRowMenu(MenuWatchlistRowView* row)
{
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(20, 20), row->mapToGlobal(QPoint(20, 20)));
    QApplication::sendEvent(row, &event);
}

} // namespace

class TestPopoverView : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        SpringAnimation::setAnimationsEnabled(false);
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    }

    void entriesWithoutAQuoteHaveRowsAndOnlyAnEmptyListIsEmpty()
    {
        StateHarness h;
        // BTC answered; ETH and SOL did not (not yet, or no longer listed by the exchange).
        AppState& state = started(h, catalog(3), catalog(1));
        MenuBarPopoverView view(state);
        show(view);
        QVERIFY(!child(view, "emptyState")->isVisible());
        QCOMPARE(rowIDs(view), (QStringList{"BTC", "ETH", "SOL"}));
        MenuWatchlistRowView* eth = view.row(QStringLiteral("ETH"));
        const auto& shown = eth->layout();
        QCOMPARE((QStringList{shown.symbol.text, shown.price.text, shown.change.text, eth->token().iconSeed}),
                 (QStringList{"ETH", "--", "--", "eth"}));

        // Removed from its menu like any other row.
        for (const QString& id : {QStringLiteral("ETH"), QStringLiteral("SOL"), QStringLiteral("BTC")}) {
            QVERIFY(!child(view, "emptyState")->isVisible());
            openRowMenu(view.row(id));
            view.rowContextMenu()->findChild<QAction*>(QStringLiteral("removeTokenAction"))->trigger();
            h.settle();
        }

        // Only an empty watchlist shows the empty state.
        QVERIFY(state.watchlistEntries().isEmpty());
        QVERIFY(view.rows().isEmpty());
        QVERIFY(child(view, "emptyState")->isVisible());
        QCOMPARE(child<QLabel>(view, "emptyStateTitle")->text(), QStringLiteral("还没有添加代币"));
        QCOMPARE(child<QLabel>(view, "emptyStateSubtitle")->text(), QStringLiteral("点击左上角按钮开始添加。"));
        QCOMPARE(child<QLabel>(view, "titleLabel")->text(), QStringLiteral("Zentrow"));
        QVERIFY(!child(view, "watchlistRows")->isVisible());
    }

    void rowsAreKeptAcrossRefreshesAndMoves()
    {
        StateHarness h;
        AppState& state = started(h, catalog(3));
        MenuBarPopoverView view(state);
        show(view);
        QCOMPARE(rowIDs(view), (QStringList{"BTC", "ETH", "SOL"}));
        const QList<MenuWatchlistRowView*> rows = view.rows();
        QCOMPARE(rows.at(0)->layout().price.text, QStringLiteral("75,456.36"));

        // A hovered row stays the same widget, still hovered, through a price refresh.
        QEnterEvent enter(QPointF(10, 10), QPointF(10, 10), QPointF(10, 10));
        QApplication::sendEvent(rows.at(1), &enter);
        QList<TokenSummary> fresh = catalog(3);
        fresh[1].price = 2400.5;
        fresh[1].change24h = 1.5;
        h.sleeper->advance(30s);
        QTRY_COMPARE(h.service->waitingRefreshes(), 1);
        const QAccessibleInterface* item = QAccessible::queryAccessibleInterface(rows.at(1));
        h.service->answerRefresh(fresh);
        QTRY_COMPARE(rows.at(1)->layout().price.text, QStringLiteral("2,400.50"));
        // A screen reader finds the same item, renamed in place.
        QCOMPARE(QAccessible::queryAccessibleInterface(rows.at(1)), item);
        QCOMPARE(item->text(QAccessible::Name), QStringLiteral("ETH, Ethereum, 2,400.50, +1.50%"));
        QCOMPARE(view.rows(), rows);
        QVERIFY(rows.at(1)->isHovered());
        QCOMPARE(rows.at(1)->layout().change.text, QStringLiteral("+1.50%"));

        // Moving a row keeps its widget, hover and all, and no other row is made anew.
        h.settle();
        state.moveTokenToTop(QStringLiteral("ETH"));
        QCOMPARE(rowIDs(view), (QStringList{"ETH", "BTC", "SOL"}));
        QCOMPARE(view.rows(), (QList<MenuWatchlistRowView*>{rows.at(1), rows.at(0), rows.at(2)}));
        QVERIFY(rows.at(1)->isHovered());
        h.settle();
        QVERIFY(rows.at(1)->geometry().top() < rows.at(0)->geometry().top());

        // A token added later gets its row at the end, while the others stay.
        state.addToken(FakeMarketDataService::token("DOGE", 0.25));
        QCOMPARE(rowIDs(view), (QStringList{"ETH", "BTC", "SOL", "DOGE"}));
        QCOMPARE(view.rows().mid(0, 3), (QList<MenuWatchlistRowView*>{rows.at(1), rows.at(0), rows.at(2)}));
        QCOMPARE(view.rows().at(3)->layout().price.text, QStringLiteral("0.2500"));

        AppPreferences preferences = state.preferences();
        preferences.showsLayoutDebugOutlines = true;
        state.setPreferences(preferences);
        QVERIFY(rows.at(0)->showsDebugFrames());
        QVERIFY(view.rows().at(3)->showsDebugFrames());
    }

    void rowTapsAndContextMenuReachTheState()
    {
        StateHarness h;
        AppState& state = started(h, catalog(3));
        MenuBarPopoverView view(state);
        show(view);
        MenuWatchlistRowView* eth = view.row(QStringLiteral("ETH"));

        QTest::mouseClick(eth, Qt::LeftButton, {}, QPoint(150, 20));
        QCOMPARE(state.expandedTokenID(), std::optional<QString>(QStringLiteral("ETH")));
        h.settle();
        QVERIFY(eth->isExpanded());
        QVERIFY(!view.row(QStringLiteral("BTC"))->isExpanded());
        QTest::mouseClick(eth, Qt::LeftButton, {}, QPoint(150, 20));
        QCOMPARE(state.expandedTokenID(), std::nullopt);
        h.settle();
        QVERIFY(!eth->isExpanded());

        QMenu* menu = view.rowContextMenu();
        auto* pin = menu->findChild<QAction*>(QStringLiteral("pinToMenuBarAction"));
        auto* top = menu->findChild<QAction*>(QStringLiteral("moveToTopAction"));
        auto* remove = menu->findChild<QAction*>(QStringLiteral("removeTokenAction"));
        QCOMPARE(menu->actions(), (QList<QAction*>{pin, top, remove}));
        QCOMPARE(top->text(), QStringLiteral("置顶"));
        QCOMPARE(remove->text(), QStringLiteral("Remove"));

        // Only the pinned token's menu says it is showing.
        openRowMenu(view.row(QStringLiteral("BTC")));
        QVERIFY(menu->isVisible());
        QCOMPARE(pin->text(), QStringLiteral("正在状态栏显示"));
        menu->close();
        openRowMenu(eth);
        QCOMPARE(view.contextMenuTokenID(), std::optional<QString>(QStringLiteral("ETH")));
        QCOMPARE(pin->text(), QStringLiteral("在状态栏显示"));
        pin->trigger();
        QVERIFY(state.watchlistEntries().at(1).isPinnedToMenuBar);
        QVERIFY(!state.watchlistEntries().at(0).isPinnedToMenuBar);
        h.settle();
        QCOMPARE(pin->text(), QStringLiteral("正在状态栏显示"));
        menu->close();

        // The pointer rests on the first row while "置顶" moves another row under it: the
        // highlight moves with the pointer's new row, without the pointer moving.
        MenuWatchlistRowView* btc = view.row(QStringLiteral("BTC"));
        const QPoint pointer = btc->mapToGlobal(QPoint(150, 20));
        QCursor::setPos(pointer);
        QEnterEvent enter(QPointF(150, 20), QPointF(150, 20), pointer);
        QApplication::sendEvent(btc, &enter);
        QVERIFY(btc->isHovered());
        openRowMenu(view.row(QStringLiteral("SOL")));
        top->trigger();
        menu->close();
        h.settle();
        QCOMPARE(rowIDs(view), (QStringList{"SOL", "BTC", "ETH"}));
        QTRY_VERIFY(view.row(QStringLiteral("SOL"))->isHovered());
        QVERIFY(!btc->isHovered());

        openRowMenu(eth);
        remove->trigger();
        h.settle();
        QCOMPARE(rowIDs(view), (QStringList{"SOL", "BTC"}));
        // The menu of a token that left the list does nothing more.
        QVERIFY(!menu->isVisible());
        QCOMPARE(view.contextMenuTokenID(), std::nullopt);
        pin->trigger();
        QVERIFY(state.watchlistEntries().at(0).isPinnedToMenuBar);
    }

    void addButtonSwapsInTheSheetAndBackSwapsItOut()
    {
        StateHarness h;
        AppState& state = started(h, catalog(2));
        MenuBarPopoverView view(state);
        show(view);
        view.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        QWidget* screen = child(view, "watchlistScreen");
        AddTokenSheet* sheet = view.addTokenSheet();
        QVERIFY(screen->isVisible() && !sheet->isVisible());

        QTest::mouseClick(child<QAbstractButton>(view, "addTokenButton"), Qt::LeftButton);
        QVERIFY(state.isSearchPresented());
        h.settle();
        QVERIFY(!screen->isVisible());
        QVERIFY(!child(view, "header")->isVisible());
        QVERIFY(sheet->isVisible());
        QCOMPARE(sheet->geometry(), view.rect());
        QTRY_VERIFY(sheet->searchField()->hasFocus());
        // The shell focuses the popover's content when it opens: that is the field now.
        QCOMPARE(view.focusProxy(), sheet->searchField());

        // Back while the typed search still waits: it is dropped with the text.
        QTest::keyClicks(sheet->searchField(), QStringLiteral("sol"));
        QVERIFY(state.isSearching());
        QTest::mouseClick(child<QAbstractButton>(*sheet, "backButton"), Qt::LeftButton);
        QVERIFY(!state.isSearchPresented());
        QCOMPARE(state.searchQuery(), QString());
        QVERIFY(!state.isSearching());
        h.settle();
        QVERIFY(screen->isVisible());
        QVERIFY(!sheet->isVisible());
        QCOMPARE(rowIDs(view), (QStringList{"BTC", "ETH"}));
    }

    void bannerSitsAboveTheListAndShowsItsMessageVerbatim()
    {
        StateHarness h;
        AppState& state = started(h, catalog(2));
        MenuBarPopoverView view(state);
        show(view);
        const int listTop = view.rows().first()->mapTo(&view, QPoint()).y();

        const QString message = QStringLiteral("<b>服务器返回了异常状态码：503。</b>\n&amp; line two");
        raiseBanner(h, Error(Error::Domain::Transport, 1, message));
        RefreshErrorBannerView* banner = view.banner();
        QVERIFY(banner->isVisible());
        // Read out as an alert, its message as it came.
        QAccessibleInterface* alert = QAccessible::queryAccessibleInterface(banner);
        QCOMPARE(alert->role(), QAccessible::AlertMessage);
        QCOMPARE(alert->text(QAccessible::Description), message);
        auto* scroll = child<QScrollArea>(view, "watchlistScrollArea");
        QVERIFY(!scroll->isAncestorOf(banner));
        const QRect bannerRect(banner->mapTo(&view, QPoint()), banner->size());
        // The banner takes the list's place and pushes the list down below it.
        QCOMPARE(bannerRect.top(), listTop);
        QVERIFY(view.rows().first()->mapTo(&view, QPoint()).y() > bannerRect.bottom());

        // When it happened, to the minute and without the date, as the loop below checks for several locales.
        const QString time = child<QLabel>(*banner, "bannerTimeLabel")->text();
        QVERIFY2(QRegularExpression(QStringLiteral("^\\d{1,2}:\\d\\d(\\s[AP]M)?$")).match(time).hasMatch(),
                 qPrintable(time));
        // Hours and minutes in every locale, also in C, whose short format has seconds.
        const QDateTime evening(QDate(2026, 3, 1), QTime(19, 42, 14));
        const QLocale before;
        for (const char* name : {"C", "zh_CN", "de_DE", "en_US"}) {
            QLocale::setDefault(QLocale(QString::fromLatin1(name)));
            const QString text = RefreshErrorBannerView::timeText(evening);
            QVERIFY2(text.startsWith(QStringLiteral("19:42")) || text.startsWith(QStringLiteral("7:42")), name);
            QVERIFY2(!text.contains(QStringLiteral("14")), name);
        }
        QLocale::setDefault(before);
        QCOMPARE(child<QLabel>(*banner, "bannerTitleLabel")->text(), QStringLiteral("网络错误"));
        auto* text = child<QTextEdit>(*banner, "bannerMessage");
        QVERIFY(!text->isVisible());

        QTest::mouseClick(child<QAbstractButton>(*banner, "bannerHeaderButton"), Qt::LeftButton);
        QVERIFY(state.isRefreshErrorExpanded());
        h.settle();
        QVERIFY(text->isVisible());
        QCOMPARE(text->toPlainText(), message);
        QVERIFY(text->textInteractionFlags() & Qt::TextSelectableByMouse);
        QVERIFY(text->height() > 20); // two lines
        QCOMPARE(scroll->mapTo(&view, QPoint()).y(), banner->mapTo(&view, QPoint()).y() + banner->height());

        QTest::mouseClick(child<QAbstractButton>(*banner, "bannerHeaderButton"), Qt::LeftButton);
        h.settle();
        QVERIFY(!text->isVisible());
    }

    // A bell beside the symbol while an alert is armed, filled and orange once one fired; the
    // rest of the line stays where it was. Notices no notification took show above the list.
    void alertBellsAndUndeliveredNotices()
    {
        StateHarness h;
        h.storeEntries({QStringLiteral("BTC"), QStringLiteral("ETH"), QStringLiteral("SOL")});
        // SOL's alert fired while the popover was closed, and nobody has looked since.
        StoredState document = h.stored();
        document.priceAlerts.append({.id = QStringLiteral("A1"),
                                     .tokenID = QStringLiteral("SOL"),
                                     .threshold = 100,
                                     .isFired = true,
                                     .isUnseen = true});
        h.storeDocument(document);
        AppState& state = h.make();
        h.settle();
        h.service->answerRefresh(catalog(3));
        h.settle();
        MenuBarPopoverView view(state);
        show(view);
        MenuWatchlistRowView* eth = view.row(QStringLiteral("ETH"));
        const MenuWatchlistRowView::Layout before = eth->layout();
        QVERIFY(before.bell.isEmpty());
        const auto bellPixels = [](MenuWatchlistRowView* row, bool orange) {
            const QImage image = Pixels::render(*row, 2);
            const QRectF bell = row->layout().bell;
            int count = 0;
            for (qreal y = bell.top(); y < bell.bottom(); y += 0.5) {
                for (qreal x = bell.left(); x < bell.right(); x += 0.5) {
                    const QColor c = Pixels::at(image, x, y);
                    const bool isOrange = c.red() - c.blue() > 120;
                    count += (orange ? isOrange : !isOrange && c.lightness() < 200) ? 1 : 0;
                }
            }
            return count;
        };

        state.priceAlerts().add(QStringLiteral("ETH"), PriceAlert::Kind::Above, 3000);
        QCOMPARE(eth->alertMark(), PriceAlerts::Mark::Armed);
        QCOMPARE(view.row(QStringLiteral("BTC"))->alertMark(), PriceAlerts::Mark::None);
        const MenuWatchlistRowView::Layout armed = eth->layout();
        QVERIFY(armed.bell.left() > armed.symbol.rect.left() && armed.bell.right() < armed.trendCell.left());
        QCOMPARE(armed.symbol.rect.topLeft(), before.symbol.rect.topLeft());
        QCOMPARE(armed.priceBlock, before.priceBlock);
        QVERIFY(bellPixels(eth, false) > 8);
        QCOMPARE(bellPixels(eth, true), 0);
        QVERIFY(eth->accessibleName().endsWith(QStringLiteral("已设提醒")));
        MenuWatchlistRowView* sol = view.row(QStringLiteral("SOL"));
        QCOMPARE(sol->alertMark(), PriceAlerts::Mark::Fired);
        QVERIFY(bellPixels(sol, true) > 8);
        // Opened, the fired alert counts as seen; the refresh (SOL far below 100) armed it again.
        state.toggleExpandedToken(QStringLiteral("SOL"));
        h.settle();
        QCOMPARE(sol->alertMark(), PriceAlerts::Mark::Armed);
        QCOMPARE(bellPixels(sol, true), 0);
        state.priceAlerts().setEnabled(false);
        QCOMPARE(eth->alertMark(), PriceAlerts::Mark::None);
        QVERIFY(eth->layout().bell.isEmpty());

        PriceAlertNoticesView* notices = view.alertNotices();
        QVERIFY(!notices->isVisible());
        state.priceAlerts().addUndelivered({QStringLiteral("ETH"), QStringLiteral("ETH"),
                                            PriceAlerts::noticeTitle(QStringLiteral("ETH")),
                                            QStringLiteral("ETH 已升至 3,012.00（高于 3,000.00）")});
        h.settle();
        QVERIFY(notices->isVisible());
        QCOMPARE(notices->text(), QStringLiteral("ETH 已升至 3,012.00（高于 3,000.00）"));
        QVERIFY(notices->geometry().bottom() < view.findChild<QWidget*>("watchlistScrollArea")->geometry().top() + 1);
        QTest::mouseClick(child(*notices, "priceAlertNoticesClose"), Qt::LeftButton);
        QVERIFY(state.priceAlerts().undelivered().isEmpty());
        QVERIFY(!notices->isVisible());
    }

    // Each main state fills the popover to its corners, at 1x and 2x.
    void rendersEachMainState()
    {
        StateHarness h;
        AppState& state = started(h, catalog(3));
        MenuBarPopoverView view(state);
        show(view);
        auto fillsTheCorners = [&](const QColor& background) {
            for (const int ratio : {1, 2}) {
                const QImage image = Pixels::render(view, ratio, Qt::black, false);
                QCOMPARE(image.size(), QSize(368, 620) * ratio);
                QCOMPARE(image.pixel(image.width() - 1, image.height() - 1), background.rgb());
            }
        };
        const QColor popoverBackground = QColor::fromRgbF(0.965f, 0.965f, 0.955f);
        fillsTheCorners(popoverBackground);
        state.toggleExpandedToken(QStringLiteral("ETH"));
        raiseBanner(h, Error(Error::Domain::Transport, 99,
                             QStringLiteral("The request timed out while contacting https://backend.zentrow.invalid/"
                                            "api/quotes?ids=BTC,ETH,SOL"),
                             QStringLiteral("The network connection was lost.")));
        state.toggleRefreshErrorExpanded();
        h.settle();
        fillsTheCorners(popoverBackground);

        h.service->autoSearchAnswer = TokenSummary::fallbackCatalog();
        state.setIsSearchPresented(true);
        h.settle();
        QTest::keyClicks(view.addTokenSheet()->searchField(), QStringLiteral("a"));
        QTest::keyClick(view.addTokenSheet()->searchField(), Qt::Key_Return);
        QTRY_COMPARE(view.addTokenSheet()->content(), AddTokenSheet::Content::Results);
        fillsTheCorners(QColor::fromRgbF(0.97f, 0.97f, 0.96f));
    }
};

QTEST_MAIN(TestPopoverView)
#include "tst_popoverview.moc"
