// The settings view over a real state, and its "登录时启动" box against a real autostart folder.
#include "storage/AutostartEntry.h"
#include "testlib/StateHarness.h"
#include "ui/kit/PriceAlertListView.h"
#include "ui/settings/SettingsView.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QScrollArea>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>

using namespace std::chrono_literals;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

// A state watching BTC at 75,456.36 and -2.05 %, with its first refresh answered and its loop
// asleep, and a settings view over it that records every size it reports.
struct Fixture {
    StateHarness h;
    QList<QSizeF> reports;
    std::unique_ptr<SettingsView> view;

    explicit Fixture(const std::function<void(AppPreferences&)>& adjust = {})
    {
        h.service->autoRefreshAnswer = QList<TokenSummary>{FakeMarketDataService::token("BTC", 75456.36, -2.05)};
        AppState& state = h.make();
        h.settle();
        if (adjust) {
            AppPreferences preferences = state.preferences();
            adjust(preferences);
            state.setPreferences(preferences);
        }
        view = std::make_unique<SettingsView>(state, SettingsTab::general, SettingsView::kLabelColumnWidth,
                                              SettingsView::kContentWidth,
                                              [this](const QSizeF& size) { reports.append(size); });
        view->show();
        h.settle();
    }
    ~Fixture()
    {
        view.reset();
        h.settle();
    }

    AppState& state() { return *h.state; }
    template <typename T = QWidget> T* child(const char* name) const
    {
        return view->findChild<T*>(QString::fromLatin1(name));
    }
    QString text(const char* name) const { return child<QLabel>(name)->text(); }
    QCheckBox* box(const char* name) const { return child<QCheckBox>(name); }
    void click(const char* name) const
    {
        QTest::mouseClick(box(name), Qt::LeftButton, {}, QPoint(8, box(name)->height() / 2));
    }
    void step(int direction) const
    {
        QWidget* stepper = child("refreshStepper");
        const int x = direction > 0 ? stepper->width() * 3 / 4 : stepper->width() / 4;
        QTest::mouseClick(stepper, Qt::LeftButton, {}, QPoint(x, stepper->height() / 2));
    }
    qsizetype loopStarts() const { return h.sleeper->requested().size(); }
    QPoint at(const char* name) const { return child(name)->mapTo(view.get(), QPoint()); }
};

} // namespace

class SettingsViewTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_config;
    QString entryPath() const { return m_config.filePath("autostart/app.zentrow.Zentrow.desktop"); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_config.isValid());
        // The view writes the user's own autostart entry; here that is a temporary one.
        qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8());
    }

    void cleanup()
    {
        QDir(m_config.path()).removeRecursively();
        QVERIFY(QDir().mkpath(m_config.path()));
    }
    void tabsSwitchPanesKeepTheValuesAndReportTheirSize()
    {
        Fixture f;
        auto* tabs = f.child<QTabBar>("settingsTabs");
        QVERIFY(!f.child("aboutPane")->isVisible());
        QTRY_COMPARE(f.reports.size(), 1);
        const QSizeF general = f.reports.last();
        // The reported height holds the whole pane: the last group is not cut off.
        f.view->resize(general.toSize());
        f.h.settle();
        QVERIFY(f.at("debugGroup").y() + f.child("debugGroup")->height() <= int(general.height()));

        // A change that moves nothing reports nothing.
        f.click("showsMenuBarChangeCheckBox");
        f.h.settle();
        QCOMPARE(f.reports.size(), 1);

        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(1).center());
        QCOMPARE(f.view->selectedTab(), SettingsTab::about);
        QVERIFY(f.child("aboutPane")->isVisible());
        QVERIFY(!f.child("generalPane")->isVisible());
        QTRY_COMPARE(f.reports.size(), 2);
        QVERIFY(f.reports.last().height() < general.height());

        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(0).center());
        QVERIFY(f.child("generalPane")->isVisible());
        QVERIFY(!f.box("showsMenuBarChangeCheckBox")->isChecked());
        QTRY_COMPARE(f.text("previewText"), QStringLiteral("BTC 75,456.36"));
        QTRY_COMPARE(f.reports.size(), 3);
        QCOMPARE(f.reports.last(), general);

        // The symbol goes from the preview; the price is always shown, its box cannot be unticked.
        f.click("showsMenuBarSymbolCheckBox");
        QTest::mouseClick(f.box("showsMenuBarPriceCheckBox"), Qt::LeftButton);
        QVERIFY(f.box("showsMenuBarPriceCheckBox")->isChecked());
        QCOMPARE(f.h.stored().preferences.showsMenuBarSymbol, false);
        QTRY_COMPARE(f.text("previewText"), QStringLiteral("75,456.36"));
    }

    // "价格提醒": the master switch and a hint while there is no alert, then every alert with its
    // token, each with a switch and a delete; a long list scrolls and the view still reports its size.
    void priceAlertsSectionListsEveryAlert()
    {
        Fixture f;
        QWidget* hint = f.child("priceAlertsEmptyHint");
        QVERIFY(f.child("priceAlertsGroup")->isVisible() && hint->isVisible());
        QTRY_COMPARE(f.reports.size(), 1);
        PriceAlerts& alerts = f.state().priceAlerts();
        alerts.add(QStringLiteral("BTC"), PriceAlert::Kind::Above, 80000);
        alerts.add(QStringLiteral("BTC"), PriceAlert::Kind::ChangeBeyond, 5);
        f.h.settle();
        QVERIFY(!hint->isVisible());
        QTRY_COMPARE(f.reports.last(), f.view->preferredContentSize());
        QVERIFY(f.reports.last().height() > f.reports.first().height());
        const auto texts = [&f](const char* name) {
            QStringList list;
            for (const QLabel* label : f.view->findChildren<QLabel*>(QLatin1String(name))) {
                if (label->isVisible()) {
                    list.append(label->text());
                }
            }
            return list;
        };
        QCOMPARE(texts("priceAlertSymbol"), QStringList({"BTC", "BTC"}));
        QCOMPARE(texts("priceAlertCondition"), QStringList({"高于 80,000.00", "涨跌超过 ±5%"}));

        const auto lineButton = [&f](int line, const char* name) {
            return f.view->findChildren<PriceAlertListView*>()
                .first()
                ->findChildren<QWidget*>(QLatin1String("priceAlertLine"))[line]
                ->findChild<QAbstractButton*>(QLatin1String(name));
        };
        QTest::mouseClick(lineButton(1, "priceAlertSwitch"), Qt::LeftButton);
        QVERIFY(!alerts.alerts().at(1).isEnabled);
        QTest::mouseClick(lineButton(0, "priceAlertDelete"), Qt::LeftButton);
        QCOMPARE(alerts.alerts().size(), 1);
        f.h.settle();
        QCOMPARE(texts("priceAlertCondition"), QStringList({"涨跌超过 ±5%"}));
        f.click("priceAlertsEnabledCheckBox");
        QVERIFY(!alerts.isEnabled());

        for (int i = 0; i < 20; ++i) {
            alerts.add(QStringLiteral("BTC"), PriceAlert::Kind::Above, 1000 + i);
        }
        f.h.settle();
        auto* scroll = f.child<QScrollArea>("priceAlertSettingsScroll");
        QVERIFY(scroll->height() < 8 * PriceAlertListView::kLineHeight);
        QVERIFY(scroll->widget()->height() > 20 * PriceAlertListView::kLineHeight);
        QTRY_COMPARE(f.reports.last(), f.view->preferredContentSize());
        QVERIFY(f.reports.last().height() < 900);
    }

    void stepperMovesByFiveWithinRangeAndRestartsTheLoop()
    {
        Fixture f;
        QWidget* stepper = f.child("refreshStepper");
        const qsizetype starts = f.loopStarts();
        const int writes = f.h.defaults->writes;
        // Each arrow answers over at least 22 x 22 points, out to the stepper's edges.
        QVERIFY(stepper->width() >= 44 && stepper->height() >= 22);
        QTest::mouseClick(stepper, Qt::LeftButton, {}, QPoint(stepper->width() - 1, 0));
        QCOMPARE(f.h.stored().preferences.refreshInterval, 35.0);
        QCOMPARE(f.h.defaults->writes, writes + 1);
        QTRY_COMPARE(f.text("refreshIntervalLabel"), QStringLiteral("35 秒刷新一次"));
        QTRY_COMPARE(f.loopStarts(), starts + 1);
        QTest::mouseClick(stepper, Qt::LeftButton, {}, QPoint(0, stepper->height() - 1));
        QTest::mouseClick(stepper, Qt::LeftButton, {}, QPoint(stepper->width() / 2 - 1, stepper->height() - 1));
        QCOMPARE(f.h.stored().preferences.refreshInterval, 25.0);
        QTRY_COMPARE(f.h.sleeper->requested().last(), 25s);

        // The wheel, where half notches add up to one step, and the arrow keys.
        const auto wheel = [stepper](int delta) {
            const QPointF at(stepper->width() / 2.0, stepper->height() / 2.0);
            QWheelEvent event(at, stepper->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                              Qt::NoScrollPhase, false);
            QApplication::sendEvent(stepper, &event);
        };
        wheel(120);
        wheel(-60);
        QCOMPARE(f.state().preferences().refreshInterval, 30.0);
        wheel(-60);
        QCOMPARE(f.state().preferences().refreshInterval, 25.0);
        stepper->setFocus();
        QTest::keyClick(stepper, Qt::Key_Up);
        QTest::keyClick(stepper, Qt::Key_Up);
        QTest::keyClick(stepper, Qt::Key_Down);
        QCOMPARE(f.state().preferences().refreshInterval, 30.0);
        QTRY_COMPARE(f.text("refreshIntervalLabel"), QStringLiteral("30 秒刷新一次"));

        // To a screen reader: a spin button named by its value, with bounds and step, stepped by its actions.
        QAccessibleInterface* spin = QAccessible::queryAccessibleInterface(stepper);
        QCOMPARE(spin->role(), QAccessible::SpinBox);
        QCOMPARE(spin->text(QAccessible::Name), QStringLiteral("30 秒"));
        QCOMPARE(spin->valueInterface()->currentValue().toDouble(), 30.0);
        QCOMPARE(spin->valueInterface()->maximumValue().toDouble(), 300.0);
        spin->actionInterface()->doAction(QAccessibleActionInterface::decreaseAction());
        QCOMPARE(f.state().preferences().refreshInterval, 25.0);
        QTRY_COMPARE(spin->valueInterface()->currentValue().toDouble(), 25.0);
    }

    void stateChangesShowOnTheNextPass()
    {
        Fixture f;
        // Three writes in one go: the view reads the state once the writes are done, not in between.
        AppPreferences preferences = f.state().preferences();
        preferences.showsMenuBarChange = false;
        f.state().setPreferences(preferences);
        preferences.showsMenuBarSymbol = false;
        preferences.showsMenuBarChange = true;
        f.state().setPreferences(preferences);
        preferences.refreshInterval = 120;
        f.state().setPreferences(preferences);
        QCOMPARE(f.text("previewText"), QStringLiteral("BTC 75,456.36 -2.05%"));
        QTRY_COMPARE(f.text("previewText"), QStringLiteral("75,456.36 -2.05%"));
        QVERIFY(!f.box("showsMenuBarSymbolCheckBox")->isChecked());
        QCOMPARE(f.text("refreshIntervalLabel"), QStringLiteral("120 秒刷新一次"));

        // A gone state leaves the controls inert instead of crashing them.
        f.h.state.reset();
        f.h.settle();
        const int writes = f.h.defaults->writes;
        f.click("showsMenuBarSymbolCheckBox");
        f.step(+1);
        QCOMPARE(f.view->appState(), nullptr);
        QCOMPARE(f.h.defaults->writes, writes);
    }

    void storedIntervalsShowAndStepAsTheLoopRuns_data()
    {
        QTest::addColumn<double>("stored");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<double>("storedAfterCheckbox");
        QTest::addColumn<int>("direction");
        QTest::addColumn<double>("storedAfterStep");

        QTest::newRow("not a number") << kNaN << "30" << 30.0 << -1 << 25.0;
        QTest::newRow("infinite") << kInfinity << "300" << 86400.0 << -1 << 295.0;
        QTest::newRow("beyond the range") << 400.0 << "300" << 400.0 << -1 << 295.0;
        QTest::newRow("negative infinity") << -kInfinity << "5" << 5.0 << +1 << 10.0;
        QTest::newRow("below the range") << 2.0 << "5" << 2.0 << +1 << 10.0;
        QTest::newRow("fractional") << 30.7 << "30" << 30.7 << +1 << 35.7;
        // At the ends a press changes nothing and writes nothing.
        QTest::newRow("up at the top") << 300.0 << "300" << 300.0 << +1 << 300.0;
        QTest::newRow("down at the bottom") << 5.0 << "5" << 5.0 << -1 << 5.0;
    }

    void storedIntervalsShowAndStepAsTheLoopRuns()
    {
        QFETCH(double, stored);
        QFETCH(QString, shown);
        QFETCH(double, storedAfterCheckbox);
        QFETCH(int, direction);
        QFETCH(double, storedAfterStep);

        Fixture f([stored](AppPreferences& preferences) { preferences.refreshInterval = stored; });
        QCOMPARE(f.text("refreshIntervalLabel"), shown + QStringLiteral(" 秒刷新一次"));
        const qsizetype starts = f.loopStarts();
        const int writes = f.h.defaults->writes;

        // A checkbox stores the document (with the interval the loop uses when the stored one
        // cannot be written) and leaves the loop alone.
        f.click("showsLayoutDebugOutlinesCheckBox");
        QCOMPARE(f.h.defaults->writes, writes + 1);
        QCOMPARE(f.h.stored().preferences.showsLayoutDebugOutlines, true);
        QCOMPARE(f.h.stored().preferences.refreshInterval, storedAfterCheckbox);
        f.h.settle();
        QCOMPARE(f.loopStarts(), starts);

        const int moves = storedAfterStep != storedAfterCheckbox ? 1 : 0;
        f.step(direction);
        f.h.settle();
        QCOMPARE(f.h.stored().preferences.refreshInterval, storedAfterStep);
        QCOMPARE(f.h.defaults->writes, writes + 1 + moves);
        QTRY_COMPARE(f.loopStarts(), starts + moves);
        QTRY_COMPARE(f.text("refreshIntervalLabel"),
                     QString::number(int(std::trunc(storedAfterStep))) + QStringLiteral(" 秒刷新一次"));
    }

    void launchAtLoginShowsTheFileNotTheStoredChoice()
    {
        const auto storing = [](bool choice) {
            return [choice](AppPreferences& preferences) { preferences.launchesAtLogin = choice; };
        };
        {
            // Stored as on, but the entry was removed by hand: the session will not start the app.
            Fixture f(storing(true));
            QVERIFY(!f.box("launchesAtLoginCheckBox")->isChecked());
        }
        QString problem;
        QVERIFY(AutostartEntry::forCurrentUser().setEnabled(true, &problem));
        Fixture f(storing(false));
        QVERIFY(f.box("launchesAtLoginCheckBox")->isChecked());
    }

    void launchAtLoginWritesTheEntryAndSaysWhyItCannot()
    {
        Fixture f;
        QCheckBox* box = f.box("launchesAtLoginCheckBox");
        auto* message = f.child<QLabel>("launchesAtLoginMessage");
        f.click("launchesAtLoginCheckBox");
        QVERIFY(box->isChecked());
        QVERIFY(QFile::exists(entryPath()));
        QVERIFY(f.h.stored().preferences.launchesAtLogin);
        f.click("launchesAtLoginCheckBox");
        QVERIFY(!QFile::exists(entryPath()));
        QVERIFY(!f.h.stored().preferences.launchesAtLogin);
        QVERIFY(!message->isVisible());

        // A file where the autostart folder should be: the box shows the truth and says why.
        QVERIFY(QDir(m_config.filePath("autostart")).removeRecursively());
        QFile blocker(m_config.filePath("autostart"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        const AppPreferences before = f.h.stored().preferences;
        f.click("launchesAtLoginCheckBox");
        QVERIFY(!box->isChecked());
        QVERIFY(message->isVisible() && message->text().contains(m_config.filePath("autostart")));
        QVERIFY(f.h.stored().preferences.sameAs(before));
        // Once the folder can be made, the next tick works and the message goes.
        QVERIFY(QFile::remove(m_config.filePath("autostart")));
        f.click("launchesAtLoginCheckBox");
        QVERIFY(box->isChecked());
        QVERIFY(!message->isVisible());
    }
};

QTEST_MAIN(SettingsViewTest)
#include "tst_settingsview.moc"
