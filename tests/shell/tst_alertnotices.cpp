// Fired price alerts as the desktop shows them: notifications from a fake server on the private
// bus, and the status item's tooltip when no notification could be shown.
#include "shell/AppActions.h"
#include "shell/PopoverWindow.h"
#include "shell/StatusBarController.h"
#include "shell/StatusNotifierTypes.h"
#include "state/AppState.h"
#include "state/PriceAlerts.h"
#include "testlib/AppOnPrivateBus.h"
#include "testlib/FakeNotificationServer.h"

using namespace std::chrono_literals;
using namespace AppOnPrivateBus;

namespace {

const PriceAlertNotice kBitcoin{QStringLiteral("BTC"), QStringLiteral("BTC"), QStringLiteral("BTC 价格提醒"),
                                QStringLiteral("BTC 已升至 80,123.45（高于 80,000.00）\n"
                                               "BTC 24 小时涨跌 +6.10%（超过 ±5%）")};
const PriceAlertNotice kEther{QStringLiteral("ETH"), QStringLiteral("ETH"), QStringLiteral("ETH 价格提醒"),
                              QStringLiteral("ETH 已跌至 1,999.50（低于 2,000.00）")};

} // namespace

class AlertNoticesTest : public QObject {
    Q_OBJECT

private:
    Harness m_h;
    std::unique_ptr<FakeNotificationServer> m_server;

    // The app once its status item and notifier exist.
    PriceAlerts& startApp()
    {
        ZentrowApp& app = m_h.start([](ZentrowAppOptions& options) { options.alertNoticeTimeout = 300ms; });
        (void)QTest::qWaitFor([&app] { return app.delegate().statusBarController() != nullptr; });
        return app.appState().priceAlerts();
    }

    PopoverWindow& popover() const { return m_h.app->delegate().statusBarController()->popover(); }

    QStringList toolTipLines() { return item(m_h.itemService()).toolTip().description.split(QLatin1Char('\n')); }

private Q_SLOTS:
    void initTestCase() { QVERIFY2(QDBusConnection::sessionBus().isConnected(), "run under dbus-run-session"); }

    void init()
    {
        m_h.setUp([](const LoopbackHttpServer::Request&) { return LoopbackHttpServer::Reply::json(R"({"data":[]})"); });
        QVERIFY(m_h.watcher->start());
    }

    void cleanup()
    {
        m_h.tearDown();
        m_server.reset();
    }

    void eachNoticeIsOneNotificationOpeningThePopoverWhereActionsAreDrawn_data()
    {
        QTest::addColumn<QStringList>("capabilities");
        QTest::addColumn<QStringList>("actions");
        QTest::newRow("actions") << QStringList{"body", "actions", "persistence"}
                                 << QStringList{"default", "打开 Zentrow"};
        QTest::newRow("no actions") << QStringList{"body"} << QStringList{};
    }

    void eachNoticeIsOneNotificationOpeningThePopoverWhereActionsAreDrawn()
    {
        QFETCH(QStringList, capabilities);
        QFETCH(QStringList, actions);
        m_server = std::make_unique<FakeNotificationServer>(FakeNotificationServer::Mode::Answer, capabilities);
        QVERIFY(m_server->start());
        PriceAlerts& alerts = startApp();
        Q_EMIT alerts.fired({kBitcoin, kEther});
        QTRY_COMPARE(m_server->received.size(), 2);
        for (int i = 0; i < 2; ++i) {
            const FakeNotificationServer::Notification& shown = m_server->received.at(i);
            const PriceAlertNotice& notice = i == 0 ? kBitcoin : kEther;
            QCOMPARE((QStringList{shown.appName, shown.appIcon, shown.summary, shown.body}),
                     (QStringList{"Zentrow", "app.zentrow.Zentrow", notice.title, notice.body}));
            QCOMPARE(shown.actions, actions);
        }
        // The next refresh's notice goes out the same way.
        Q_EMIT alerts.fired({kEther});
        QTRY_COMPARE(m_server->received.size(), 3);
        QVERIFY(alerts.undelivered().isEmpty());
        QVERIFY(!toolTipLines().contains(kEther.body));

        if (!actions.isEmpty()) {
            // Another app's notification is not ours to answer; a click on ours opens the popover.
            m_server->invokeAction(7, QStringLiteral("default"));
            m_server->invokeAction(43, QStringLiteral("default"));
            QTRY_VERIFY(popover().isVisible());
        }
    }

    void aNoticeNoServiceShowedStaysInTheTooltipUntilThePopoverWasOpen_data()
    {
        QTest::addColumn<int>("mode"); // -1: no notification service on the bus
        QTest::newRow("no service") << -1;
        QTest::newRow("error") << int(FakeNotificationServer::Mode::Fail);
        QTest::newRow("no answer") << int(FakeNotificationServer::Mode::Silent);
    }

    void aNoticeNoServiceShowedStaysInTheTooltipUntilThePopoverWasOpen()
    {
        QFETCH(int, mode);
        if (mode >= 0) {
            m_server = std::make_unique<FakeNotificationServer>(FakeNotificationServer::Mode(mode),
                                                                QStringList{"body", "actions"});
            QVERIFY(m_server->start());
        }
        PriceAlerts& alerts = startApp();
        Q_EMIT alerts.fired({kBitcoin});
        QTRY_COMPARE(alerts.undelivered(), QList<PriceAlertNotice>{kBitcoin});
        const QStringList lines{"BTC 已升至 80,123.45（高于 80,000.00）", "BTC 24 小时涨跌 +6.10%（超过 ±5%）"};
        QTRY_COMPARE(toolTipLines().mid(0, 2), lines);

        // Open and closed again: the popover has shown them, and the tooltip lets them go.
        m_h.app->delegate().actions().openPopover()->trigger();
        QTRY_VERIFY(popover().isVisible());
        QCOMPARE(alerts.undelivered().size(), 1);
        popover().close();
        QVERIFY(alerts.undelivered().isEmpty());
        QTRY_VERIFY(!toolTipLines().contains(lines.first()));
        QCOMPARE(toolTipLines().first(), QStringLiteral("BTC -- --"));
    }
};

QTEST_MAIN(AlertNoticesTest)
#include "tst_alertnotices.moc"
