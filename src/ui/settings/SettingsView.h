#pragma once

#include "state/AppState.h"
#include "storage/AutostartEntry.h"
#include "ui/settings/SettingsTab.h"

#include <QPointer>
#include <QSizeF>
#include <QWidget>

#include <functional>

class QCheckBox;
class QLabel;
class QTabBar;
class SettingsStepper;

// The content of the settings window: a segmented control over two tabs. "通用" edits the
// refresh interval and the status-item options (with a live preview of the status text) and the
// popover's debug outlines; "关于" names the product and its data source. Every control writes
// AppState's preferences at once; the view itself keeps only the selected tab.
//
// The view measures its own preferred size and announces every new one (never an empty one), so
// the window can fit it exactly.
class SettingsView : public QWidget {
    Q_OBJECT

public:
    using SizeHandler = std::function<void(const QSizeF& size)>;

    static constexpr qreal kLabelColumnWidth = 104;
    static constexpr qreal kContentWidth = 620;
    // The stepper's range and step, in seconds.
    static constexpr double kMinimumInterval = 5;
    static constexpr double kMaximumInterval = 300;
    static constexpr double kIntervalStep = 5;

    SettingsView(AppState& appState, SettingsTab selectedTab, qreal labelColumnWidth, qreal contentWidth,
                 QWidget* parent = nullptr);
    // The same, with `onPreferredContentSizeChange` connected to preferredContentSizeChanged.
    SettingsView(AppState& appState, SettingsTab selectedTab, qreal labelColumnWidth, qreal contentWidth,
                 const SizeHandler& onPreferredContentSizeChange, QWidget* parent = nullptr);
    ~SettingsView() override;

    // Null once the state is gone; the controls then do nothing.
    AppState* appState() const { return m_appState; }

    SettingsTab selectedTab() const { return m_selectedTab; }
    void setSelectedTab(SettingsTab tab);

    // The size the content needs now, measured from its layout.
    QSizeF preferredContentSize() const;

    // The interval the stepper shows for a stored one: the interval the refresh loop uses, clamped
    // into the stepper's range. Not-a-number shows the loop's fallback; infinities show the ends.
    static double displayedInterval(double refreshInterval);

Q_SIGNALS:
    void preferredContentSizeChanged(const QSizeF& size);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    class Group;

    QWidget* makeTabRow();
    QWidget* makeGeneralPane();
    QWidget* makeAboutPane();
    QWidget* makeGroup(const QString& title, bool showsDivider, const QList<QWidget*>& content,
                       const QString& objectName);
    QCheckBox* makeCheckBox(const QString& text, const QString& objectName);

    QWidget* makeLaunchAtLoginGroup();
    void setLaunchesAtLogin(bool on);

    void stepInterval(int direction);

    void scheduleRefresh();
    void refreshFromState();
    void scheduleMeasure();
    void measure();

    QPointer<AppState> m_appState;
    SettingsTab m_selectedTab;
    qreal m_labelColumnWidth;
    qreal m_contentWidth;

    QSizeF m_measuredSize{0, 0};
    bool m_refreshScheduled = false;
    bool m_measureScheduled = false;

    QTabBar* m_tabs = nullptr;
    QWidget* m_generalPane = nullptr;
    QWidget* m_aboutPane = nullptr;
    SettingsStepper* m_stepper = nullptr;
    QLabel* m_intervalLabel = nullptr;
    QCheckBox* m_symbolBox = nullptr;
    QCheckBox* m_priceBox = nullptr;
    QCheckBox* m_changeBox = nullptr;
    QCheckBox* m_outlinesBox = nullptr;
    QLabel* m_previewText = nullptr;

    // The "登录时启动" box shows whether this file is there, whatever the stored preference says.
    AutostartEntry m_autostart = AutostartEntry::forCurrentUser();
    QCheckBox* m_launchAtLoginBox = nullptr;
    QLabel* m_launchAtLoginMessage = nullptr;
};
