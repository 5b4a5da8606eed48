#include "shell/SettingsWindowManager.h"
#include "testlib/StateHarness.h"
#include "ui/settings/SettingsView.h"

#include <QApplication>
#include <QCheckBox>
#include <QCursor>
#include <QPointer>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <limits>

namespace {

// The two screens tests/shell/two-screens.json gives the offscreen platform under ctest.
const QRect kLeftScreen{0, 0, 1280, 800};
const QRect kRightScreen{1280, 0, 1600, 1000};

// Centred within rounding, checked against the screen rather than the manager's own arithmetic.
bool isCentredIn(const QWidget& window, const QRect& available)
{
    return (window.frameGeometry().center() - available.center()).manhattanLength() <= 2;
}

// A settings window shown for a state of its own, once the window manager has made it active.
struct Shown {
    StateHarness h;
    SettingsWindowManager manager;
    QWidget* window = nullptr;

    Shown()
    {
        manager.show(h.make());
        window = manager.window();
    }
    bool active() const
    {
        return QTest::qWaitFor([this] { return window->isActiveWindow(); });
    }
};

} // namespace

class SettingsWindowTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void oddReportedSizesKeepAWindow()
    {
        const double nan = std::numeric_limits<double>::quiet_NaN();
        QCOMPARE(SettingsWindowManager::contentSize({nan, -4}), SettingsWindowManager::kMinimumContentSize);
        QCOMPARE(SettingsWindowManager::contentSize({1e300, 1e300}), QSize(16384, 16384));
    }

    void showsOneFixedWindowCentredUnderThePointer()
    {
        if (QGuiApplication::screens().size() < 2)
            QSKIP("needs the two offscreen screens ctest configures");
        QCursor::setPos(kRightScreen.center() + QPoint(300, 200));
        Shown s;
        QWidget* window = s.window;
        QVERIFY(window && window->isVisible());
        QCOMPARE(window->windowTitle(), QStringLiteral("设置"));
        // Fitted to its content at once, and fixed there: the user cannot resize it.
        QCOMPARE((QList<QSize>{window->size(), window->minimumSize(), window->maximumSize()}),
                 QList<QSize>(3, s.manager.settingsView()->preferredContentSize().toSize()));
        QVERIFY(isCentredIn(*window, kRightScreen));
        QVERIFY(s.active());

        // The second show reuses the window and centres it under the pointer again.
        QCursor::setPos(kLeftScreen.topLeft() + QPoint(10, 10));
        s.manager.show(*s.h.state);
        QCOMPARE(s.manager.window(), window);
        QVERIFY(isCentredIn(*window, kLeftScreen));
    }

    void closingHidesAndShowingAgainReusesTheWindow()
    {
        QScreen* screen = QGuiApplication::primaryScreen();
        QCursor::setPos(screen->geometry().center());
        Shown s;
        QWidget* window = s.window;
        QVERIFY(s.active());
        s.manager.settingsView()->setSelectedTab(SettingsTab::about);
        QTRY_COMPARE(window->size(), s.manager.settingsView()->preferredContentSize().toSize());
        const QSize closedSize = window->size();

        // Closing never counts towards quitting, even where the last closed window would. Only a
        // running application quits, so close the window from inside one that otherwise ends with 1.
        const bool quits = QGuiApplication::quitOnLastWindowClosed();
        QGuiApplication::setQuitOnLastWindowClosed(true);
        QSignalSpy lastWindowClosed(qApp, &QGuiApplication::lastWindowClosed);
        QTimer::singleShot(0, window, [window] {
            window->close();
            QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(1); });
        });
        const int exitCode = QCoreApplication::exec();
        QGuiApplication::setQuitOnLastWindowClosed(quits);
        QCOMPARE(exitCode, 1);
        QCOMPARE(lastWindowClosed.count(), 0);
        QVERIFY(!window->isVisible());

        const QPointer<SettingsView> closedView = s.manager.settingsView();
        s.manager.show(*s.h.state);
        QCOMPARE(s.manager.window(), window);
        QCOMPARE(window->size(), closedSize);
        QVERIFY(s.active());
        QTRY_VERIFY(isCentredIn(*window, screen->availableGeometry()));
        // A fresh view, on the tab the closed one showed.
        QVERIFY(!closedView);
        QCOMPARE(s.manager.settingsView()->selectedTab(), SettingsTab::about);
        QCOMPARE(s.manager.settingsView()->parentWidget(), window);
    }

    void resizingKeepsTheTopEdge()
    {
        Shown s;
        QWidget* window = s.window;
        // The view's own first measure, once its layouts have settled, on a framed window.
        QWidget* pane = s.manager.settingsView()->findChild<QWidget*>(QStringLiteral("generalPane"));
        QTRY_COMPARE(pane->mapTo(window, QPoint(0, pane->height())).y(), window->height());
        QVERIFY(s.active());
        const QSize general = window->size();
        const QRect frame = window->frameGeometry();
        const int top = window->geometry().top();

        s.manager.settingsView()->setSelectedTab(SettingsTab::about);
        // The about tab is shorter: the window shrinks to it, with no empty band under the text.
        QWidget* about = s.manager.settingsView()->findChild<QWidget*>(QStringLiteral("aboutPane"));
        QTRY_COMPARE(about->mapTo(window, QPoint(0, about->height())).y(), window->height());
        QVERIFY(window->height() < general.height());
        QCOMPARE(window->geometry().top(), top);

        s.manager.settingsView()->setSelectedTab(SettingsTab::general);
        QTRY_COMPARE(window->size(), general);
        QCOMPARE(window->frameGeometry().topLeft(), frame.topLeft());
        QCOMPARE(s.manager.settingsView()->geometry(), QRect(QPoint(0, 0), general));

        // Escape closes it, as the close button does.
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : window, Qt::Key_Escape);
        QTRY_VERIFY(!window->isVisible());
    }

    void hostedViewIsBoundToTheGivenState()
    {
        Shown s;
        StateHarness second;
        AppState& secondState = second.make();
        s.manager.show(secondState);
        QCOMPARE(s.manager.window()->findChildren<SettingsView*>().size(), 1);

        const int firstWrites = s.h.defaults->writes;
        auto* symbol = s.manager.settingsView()->findChild<QCheckBox*>(QStringLiteral("showsMenuBarSymbolCheckBox"));
        QTest::mouseClick(symbol, Qt::LeftButton);
        QCOMPARE(second.stored().preferences.showsMenuBarSymbol, false);
        QCOMPARE(s.h.defaults->writes, firstWrites);
        QCOMPARE(s.h.state->preferences().showsMenuBarSymbol, true);
    }
};

QTEST_MAIN(SettingsWindowTest)
#include "tst_settingswindow.moc"
