#pragma once

#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <optional>

class AppState;
class QVBoxLayout;

// The user's price alerts as a list, one line each: the condition (and, where several tokens
// share the list, the token's symbol), a switch that turns the alert on or off and a button that
// deletes it. Lines are kept across changes, so the keyboard focus stays where it was.
class PriceAlertListView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kLineHeight = 22;
    static constexpr int kLineSpacing = 4;

    // Lists the alerts of `tokenID`, or every alert (with its symbol) when none is given.
    PriceAlertListView(AppState& appState, std::optional<QString> tokenID, QWidget* parent = nullptr);

    int count() const { return int(m_lines.size()); }
    // Where the focus goes when the line that had it is deleted and no line is left.
    void setFallbackFocus(QWidget* widget) { m_fallbackFocus = widget; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    void countChanged();

private:
    class Line;
    void sync();

    AppState& m_appState;
    std::optional<QString> m_tokenID;
    QVBoxLayout* m_layout = nullptr;
    QList<Line*> m_lines;
    QPointer<QWidget> m_fallbackFocus;
};
