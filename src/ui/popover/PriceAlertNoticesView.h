#pragma once

#include <QWidget>

class AppState;
class PlainLabel;

// Fired price alerts that no notification service took, above the watchlist until the user has
// seen them: a tinted strip with each notice's lines and a button that dismisses them. Hidden
// while there is nothing to show; it keeps the popover's side padding itself.
class PriceAlertNoticesView : public QWidget {
    Q_OBJECT
public:
    static constexpr qreal kCornerRadius = 12;

    explicit PriceAlertNoticesView(AppState& appState, QWidget* parent = nullptr);

    // The lines shown, one per alert that fired.
    QString text() const;

private:
    void render();

    AppState& m_appState;
    QWidget* m_strip = nullptr;
    PlainLabel* m_lines = nullptr;
};
