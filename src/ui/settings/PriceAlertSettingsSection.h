#pragma once

#include <QWidget>

class AppState;
class PriceAlertListView;
class QCheckBox;
class QScrollArea;

// The general tab's price alerts: the master switch and every alert with its token, each with
// a switch and a delete. A long list scrolls within a capped height, so the window stays on screen.
class PriceAlertSettingsSection : public QWidget {
    Q_OBJECT
public:
    // Lines shown before the list scrolls.
    static constexpr int kVisibleLines = 6;
    static constexpr int kWidth = 380;

    explicit PriceAlertSettingsSection(AppState& appState, QWidget* parent = nullptr);

    bool hasAlerts() const;
    QCheckBox* masterSwitch() const { return m_master; }
    PriceAlertListView* list() const { return m_list; }

    QSize sizeHint() const override;

Q_SIGNALS:
    void hasAlertsChanged(bool hasAlerts);

private:
    void sync();

    AppState& m_appState;
    QCheckBox* m_master = nullptr;
    QScrollArea* m_scroll = nullptr;
    PriceAlertListView* m_list = nullptr;
    bool m_hadAlerts = false;
};
