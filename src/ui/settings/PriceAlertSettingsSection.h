#pragma once

#include <QWidget>

class AppState;
class PriceAlertListView;
class QCheckBox;
class QLabel;
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

    QCheckBox* masterSwitch() const { return m_master; }
    PriceAlertListView* list() const { return m_list; }

    QSize sizeHint() const override;

private:
    void sync();

    AppState& m_appState;
    QCheckBox* m_master = nullptr;
    // Where to add one, while there is none.
    QLabel* m_emptyHint = nullptr;
    QScrollArea* m_scroll = nullptr;
    PriceAlertListView* m_list = nullptr;
};
