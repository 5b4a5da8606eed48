#include "shell/SettingsWindowManager.h"
#include "testlib/StateHarness.h"
#include "views/SettingsView.h"

#include <QApplication>
#include <QCheckBox>
#include <QCursor>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryFile>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <limits>
#include <vector>

namespace {

// Two screens of different sizes side by side; the second is not the primary one.
const QRect kLeftScreen{0, 0, 1280, 800};
const QRect kRightScreen{1280, 0, 1600, 1000};

QJsonObject screen(const QString& name, const QRect& geometry)
{
    return {{QStringLiteral("name"), name},
            {QStringLiteral("x"), geometry.x()},
            {QStringLiteral("y"), geometry.y()},
            {QStringLiteral("width"), geometry.width()},
            {QStringLiteral("height"), geometry.height()},
            {QStringLiteral("dpr"), 1.0}};
}

bool isCentredIn(const QWidget& window, const QRect& available)
{
    const QRect frame = window.frameGeometry();
    const QPoint expected = SettingsWindowManager::centredOrigin(frame.size(), available);
    return (frame.topLeft() - expected).manhattanLength() <= 1;
}

} // namespace

class SettingsWindowTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void resizeRuleRoundsUpAndKeepsTheMinimum()
    {
        QCOMPARE(SettingsWindowManager::contentSize({300.2, 150}), QSize(520, 150));
        QCOMPARE(SettingsWindowManager::contentSize({700.1, 400.4}), QSize(701, 401));
        QCOMPARE(SettingsWindowManager::contentSize({520.0001, 220.5}), QSize(521, 221));
        // Nothing a view could report breaks the window.
        const double nan = std::numeric_limits<double>::quiet_NaN();
        QCOMPARE(SettingsWindowManager::contentSize({nan, -4}), QSize(520, 100));
        QCOMPARE(SettingsWindowManager::contentSize({1e300, 1e300}), QSize(16384, 16384));
    }

    void showsOneWindowCentredUnderThePointer()
    {
        if (QGuiApplication::screens().size() < 2)
            QSKIP("needs the two offscreen screens this test configures");
        QScreen* right = QGuiApplication::screenAt(kRightScreen.center());
        QVERIFY(right && right != QGuiApplication::primaryScreen());

        StateHarness h;
        AppState& state = h.make();
        SettingsWindowManager manager;
        QCOMPARE(manager.window(), nullptr);

        QCursor::setPos(kRightScreen.center() + QPoint(300, 200));
        manager.show(state);
        QWidget* window = manager.window();
        QVERIFY(window && window->isVisible());
        QCOMPARE(window->windowTitle(), QStringLiteral("设置"));
        const Qt::WindowFlags flags = window->windowFlags();
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        QVERIFY(flags & Qt::WindowMinimizeButtonHint);
        QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
        // Fitted to its content at once, and fixed there: the user cannot resize it.
        QCOMPARE(window->size(), manager.settingsView()->preferredContentSize().toSize());
        QCOMPARE(window->minimumSize(), window->size());
        QCOMPARE(window->maximumSize(), window->size());
        QVERIFY(isCentredIn(*window, kRightScreen));
        QTRY_VERIFY(window->isActiveWindow());

        // The second show reuses the window and centres it under the pointer again.
        QCursor::setPos(kLeftScreen.topLeft() + QPoint(10, 10));
        manager.show(state);
        QCOMPARE(manager.window(), window);
        QCOMPARE(QApplication::topLevelWidgets().count(window), 1);
        QVERIFY(isCentredIn(*window, kLeftScreen));
    }

    void closingHidesAndShowingAgainReusesTheWindow()
    {
        StateHarness h;
        AppState& state = h.make();
        SettingsWindowManager manager;
        QScreen* screen = QGuiApplication::primaryScreen();
        QCursor::setPos(screen->geometry().center());
        manager.show(state);
        QWidget* window = manager.window();
        QTRY_VERIFY(window->isActiveWindow());
        manager.settingsView()->setSelectedTab(SettingsTab::about);
        QTRY_COMPARE(window->size(), manager.settingsView()->preferredContentSize().toSize());
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
        QCOMPARE(manager.window(), window);

        const QPointer<SettingsView> closedView = manager.settingsView();
        manager.show(state);
        QCOMPARE(manager.window(), window);
        QVERIFY(window->isVisible());
        QCOMPARE(window->size(), closedSize);
        QCOMPARE(manager.lastContentSize(), closedSize);
        QTRY_VERIFY(window->isActiveWindow());
        QTRY_VERIFY(isCentredIn(*window, screen->availableGeometry()));
        // A fresh view, on the tab the closed one showed.
        QVERIFY(!closedView);
        QCOMPARE(manager.settingsView()->selectedTab(), SettingsTab::about);
        QCOMPARE(manager.settingsView()->parentWidget(), window);
    }

    void resizingKeepsTheTopEdge()
    {
        StateHarness h;
        AppState& state = h.make();
        SettingsWindowManager manager;
        manager.show(state);
        QWidget* window = manager.window();
        // The view's own first measure, once its layouts have settled, on a framed window.
        QTRY_VERIFY(!manager.settingsView()->measuredSize().isEmpty());
        QTRY_VERIFY(window->isActiveWindow());
        const QSize general = window->size();
        QVERIFY(general.height() > SettingsWindowManager::kMinimumContentSize.height());
        const int top = window->geometry().top();
        const int frameTop = window->frameGeometry().top();
        const int leftEdge = window->geometry().left();

        manager.settingsView()->setSelectedTab(SettingsTab::about);
        // The about tab is shorter: the window shrinks to it, with no empty band under the text.
        QWidget* about = manager.settingsView()->findChild<QWidget*>(QStringLiteral("aboutPane"));
        QTRY_COMPARE(about->mapTo(window, QPoint(0, about->height())).y(), window->height());
        QVERIFY(window->height() < general.height());
        QCOMPARE(manager.lastContentSize(), window->size());
        QCOMPARE(window->geometry().top(), top);

        manager.settingsView()->setSelectedTab(SettingsTab::general);
        QTRY_COMPARE(window->size(), general);
        QCOMPARE(window->geometry().top(), top);
        QCOMPARE(window->frameGeometry().top(), frameTop);
        QCOMPARE(window->geometry().left(), leftEdge);
        QCOMPARE(manager.settingsView()->geometry(), QRect(QPoint(0, 0), general));
    }

    void escapeClosesAndTheWindowCarriesTheAppIcon()
    {
        QPixmap pixmap(32, 32);
        pixmap.fill(Qt::darkCyan);
        const QIcon previous = QApplication::windowIcon();
        QApplication::setWindowIcon(QIcon(pixmap));
        StateHarness h;
        AppState& state = h.make();
        SettingsWindowManager manager;
        manager.show(state);
        QWidget* window = manager.window();
        QTRY_VERIFY(window->isActiveWindow());
        QVERIFY(!window->windowIcon().isNull());
        QVERIFY(window->windowHandle() && !window->windowHandle()->icon().isNull());

        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : window, Qt::Key_Escape);
        QTRY_VERIFY(!window->isVisible());
        QApplication::setWindowIcon(previous);
    }

    void hostedViewIsBoundToTheGivenState()
    {
        StateHarness first;
        StateHarness second;
        AppState& firstState = first.make();
        AppState& secondState = second.make();
        first.settle();
        SettingsWindowManager manager;

        manager.show(firstState);
        QCOMPARE(manager.settingsView()->appState(), &firstState);
        manager.show(secondState);
        QCOMPARE(manager.settingsView()->appState(), &secondState);
        QCOMPARE(manager.window()->findChildren<SettingsView*>().size(), 1);

        const int firstWrites = first.defaults->writes;
        const int secondWrites = second.defaults->writes;
        auto* symbol = manager.settingsView()->findChild<QCheckBox*>(QStringLiteral("showsMenuBarSymbolCheckBox"));
        QTest::mouseClick(symbol, Qt::LeftButton);
        QCOMPARE(second.defaults->writes, secondWrites + 1);
        QCOMPARE(second.stored().preferences.showsMenuBarSymbol, false);
        QCOMPARE(first.defaults->writes, firstWrites);
        QCOMPARE(firstState.preferences().showsMenuBarSymbol, true);
    }
};

int main(int argc, char** argv)
{
    // Run on two offscreen screens, unless another platform was asked for.
    QTemporaryFile config;
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    std::vector<char*> arguments(argv, argv + argc);
    QByteArray platformFlag("-platform");
    QByteArray platformOption;
    if ((platform.isEmpty() || platform == "offscreen") && config.open()) {
        const QJsonObject configuration{
            {QStringLiteral("screens"),
             QJsonArray{screen(QStringLiteral("left"), kLeftScreen), screen(QStringLiteral("right"), kRightScreen)}}};
        config.write(QJsonDocument(configuration).toJson());
        config.flush();
        platformOption = "offscreen:configfile=" + config.fileName().toLocal8Bit();
        arguments.push_back(platformFlag.data());
        arguments.push_back(platformOption.data());
    }
    int count = int(arguments.size());
    arguments.push_back(nullptr);
    QApplication app(count, arguments.data());
    SettingsWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_settingswindow.moc"
