// The popover's window: where it hangs from a panel, the edge it draws, and how clicks on the
// status item and around the popover open and close it in the running app.
#include "shell/PopoverPlacement.h"
#include "shell/PopoverWindow.h"
#include "shell/StatusBarController.h"
#include "shell/StatusNotifierMenu.h"
#include "testlib/AppOnPrivateBus.h"

#include <QMenu>
#include <QScreen>

using namespace AppOnPrivateBus;

class PopoverWindowTest : public QObject {
    Q_OBJECT

private:
    Harness m_h;
    std::unique_ptr<ZentrowApp>& m_app = m_h.app;

    ZentrowApp& startApp() { return m_h.start(); }
    QString itemService() { return m_h.itemService(); }

private Q_SLOTS:
    void init()
    {
        // A backend that is down: every token shows placeholders.
        m_h.setUp([](const LoopbackHttpServer::Request&) {
            return LoopbackHttpServer::Reply::json(R"({"error":"down"})", 503);
        });
        QVERIFY(m_h.watcher->start());
    }

    void cleanup() { m_h.tearDown(); }

    void clicksToggleThePopoverBelowTheItem()
    {
        startApp();
        const QString service = itemService();
        PopoverWindow& popover = m_app->delegate().statusBarController()->popover();
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        const QPoint click(screen.right() - 40, screen.top() + 5);
        QVERIFY(item(service).activate(click.x(), click.y()));
        QTRY_VERIFY(popover.isVisible());
        QVERIFY(popover.content() && popover.content()->isVisible());
        QVERIFY(popover.geometry().top() > click.y());
        QVERIFY(screen.contains(popover.geometry()));

        pauseBetweenClicks();
        QVERIFY(item(service).activate(click.x(), click.y()));
        QTRY_VERIFY(!popover.isVisible());

        // A right click does the same.
        for (const bool opens : {true, false}) {
            pauseBetweenClicks();
            QVERIFY(item(service).call(StatusItemHost::kItemPath, StatusItemHost::kItemInterface,
                                       QStringLiteral("SecondaryActivate"), {10, 10}));
            QTRY_COMPARE(popover.isVisible(), opens);
        }

        // A host opening the menu is not a click; its "打开 Zentrow" entry opens the popover on the
        // panel's side.
        QVERIFY(item(service).menuEvent(StatusNotifierMenu::kRootId, QStringLiteral("opened")));
        QVERIFY(item(service).menuEvent(StatusNotifierMenu::kRootId, QStringLiteral("closed")));
        QCoreApplication::processEvents();
        QVERIFY(!popover.isVisible());
        QVERIFY(item(service).menuEvent(item(service).menuId(QStringLiteral("打开 Zentrow"))));
        QTRY_VERIFY(popover.isVisible());
        popover.close();

        // A burst of clicks while the popover opens counts once.
        pauseBetweenClicks();
        for (int i = 0; i < 3; ++i) {
            QVERIFY(item(service).activate(click.x(), click.y()));
        }
        QTRY_VERIFY(popover.isVisible());
        pauseBetweenClicks();
        QVERIFY(popover.isVisible());
    }

    void clicksOnTheItemWhileThePopoverIsOpen()
    {
        startApp();
        const QString service = itemService();
        PopoverWindow& popover = m_app->delegate().statusBarController()->popover();
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        const QPoint click(screen.right() - 40, screen.top() + 5);
        const auto menuTexts = [] {
            QStringList texts;
            if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                for (const QAction* action : menu->actions()) {
                    texts.append(action->isSeparator()
                                     ? QStringLiteral("-")
                                     : (action->isChecked() ? QStringLiteral("✓ ") : QString()) + action->text());
                }
            }
            return texts;
        };
        const QStringList entries{"✓ BTC -- --", "-", "打开 Zentrow", "设置", "-", "退出"};

        // The second click of a double click lands on the popover's grab, outside it: it stays open.
        // (A long double-click time, so a slow machine still clicks within it.)
        const int doubleClickInterval = QApplication::doubleClickInterval();
        QApplication::setDoubleClickInterval(10'000);
        QVERIFY(item(service).activate(click.x(), click.y()));
        QTRY_VERIFY(popover.isVisible());
        QTest::mouseClick(&popover, Qt::LeftButton, {}, popover.mapFromGlobal(click));
        QApplication::setDoubleClickInterval(doubleClickInterval);
        QVERIFY(popover.isVisible());

        // A right click on the item closes the popover and shows the item's menu, whose entries
        // do what the host's do.
        QTest::mouseClick(&popover, Qt::RightButton, {}, popover.mapFromGlobal(click));
        QTRY_VERIFY(!popover.isVisible());
        QTRY_COMPARE(menuTexts(), entries);
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        menu->setActiveAction(menu->actions().at(2));
        QTest::keyClick(menu, Qt::Key_Return);
        QTRY_VERIFY(popover.isVisible());
        // A right click elsewhere only closes it.
        QTest::mouseClick(&popover, Qt::RightButton, {}, popover.mapFromGlobal(screen.center() + QPoint(0, 320)));
        QTRY_VERIFY(!popover.isVisible());
        QCOMPARE(QApplication::activePopupWidget(), nullptr);

        // A host that asks the item for its menu gets the same one.
        pauseBetweenClicks();
        QVERIFY(item(service).activate(click.x(), click.y()));
        QTRY_VERIFY(popover.isVisible());
        QVERIFY(item(service).call(StatusItemHost::kItemPath, StatusItemHost::kItemInterface,
                                   QStringLiteral("ContextMenu"), {click.x(), click.y()}));
        QTRY_VERIFY(!popover.isVisible());
        QTRY_COMPARE(menuTexts(), entries);
        QApplication::activePopupWidget()->close();
    }

    void popoverHangsFromTheNearestPanel_data()
    {
        QTest::addColumn<QPoint>("anchor");
        QTest::addColumn<QRect>("available"); // of the 1280 x 800 screen at the origin
        QTest::addColumn<QList<QRect>>("docks");
        QTest::addColumn<QPoint>("expected"); // top left; the size is the popover's

        const QRect screen(0, 0, 1280, 800);
        const QRect topStrut(0, 44, 1280, 756);
        const QRect topDock(0, 0, 1280, 44);
        const QRect bottomDock(0, 756, 1280, 44);
        // x: centred on the click, kept 6 px inside the screen; y: 6 px off the panel.
        QTest::newRow("top panel with a strut")
            << QPoint(1200, 20) << topStrut << QList<QRect>{topDock} << QPoint(906, 50);
        QTest::newRow("top strut without a dock window")
            << QPoint(600, 20) << topStrut << QList<QRect>{} << QPoint(416, 50);
        QTest::newRow("bottom panel windows can cover")
            << QPoint(1000, 780) << screen << QList<QRect>{bottomDock} << QPoint(816, 130);
        QTest::newRow("from the expander, far above the bottom panel")
            << QPoint(1000, 420) << screen << QList<QRect>{bottomDock} << QPoint(816, 130);
        QTest::newRow("two panels, click near the bottom one")
            << QPoint(300, 700) << topStrut << QList<QRect>{topDock, bottomDock} << QPoint(116, 130);
        QTest::newRow("two panels, click near the top one")
            << QPoint(300, 100) << topStrut << QList<QRect>{topDock, bottomDock} << QPoint(116, 50);
        QTest::newRow("left panel") << QPoint(20, 400) << screen << QList<QRect>{QRect(0, 0, 48, 800)}
                                    << QPoint(54, 90);
        QTest::newRow("floating bottom panel")
            << QPoint(640, 770) << screen << QList<QRect>{QRect(200, 744, 880, 48)} << QPoint(456, 118);
        QTest::newRow("a dock window away from the edges is no panel")
            << QPoint(640, 20) << screen << QList<QRect>{QRect(400, 300, 300, 200)} << QPoint(456, 32);
        QTest::newRow("no panel, click low") << QPoint(640, 790) << screen << QList<QRect>{} << QPoint(456, 158);
        QTest::newRow("off every screen") << QPoint(-50000, -3) << screen << QList<QRect>{bottomDock} << QPoint(6, 130);
        QTest::newRow("second screen's panel")
            << QPoint(1500, 10) << screen << QList<QRect>{bottomDock, QRect(1280, 0, 1920, 30)} << QPoint(1316, 36);
    }

    void popoverHangsFromTheNearestPanel()
    {
        QFETCH(QPoint, anchor);
        QFETCH(QRect, available);
        QFETCH(QList<QRect>, docks);
        QFETCH(QPoint, expected);
        const QList<PopoverPlacement::Screen> screens{{QRect(0, 0, 1280, 800), available},
                                                      {QRect(1280, 0, 1920, 1080), QRect(1280, 0, 1920, 1080)}};
        QCOMPARE(PopoverPlacement::place(anchor, PopoverWindow::kSize, screens, docks),
                 QRect(expected, PopoverWindow::kSize));
    }

    void theEdgeLetsClicksThroughToTheContent()
    {
        PopoverWindow popover;
        auto* content = new QWidget;
        popover.setContent(content);
        popover.open(QPoint(400, 10));
        QTRY_VERIFY(popover.isVisible());
        // The one-pixel line drawn over the content's rim takes no clicks.
        QCOMPARE(popover.childAt(QPoint(0, 300)), content);
    }
};

QTEST_MAIN(PopoverWindowTest)
#include "tst_popoverwindow.moc"
