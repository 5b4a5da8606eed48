#pragma once

#include <QPointer>
#include <QWidget>

// The popover's visible edge: a one-pixel line in the separator colour around the window, so a
// frameless popover does not melt into a light window behind it, and rounded corners where a
// compositing window manager can show the window's corners as transparent. Sits on top of the
// content, clears the content's corners and lets every mouse event through.
class PopoverEdge : public QWidget {
    Q_OBJECT

public:
    static constexpr qreal kCornerRadius = 10;

    // Must be built before `window` is first shown: a window that shows through its corners has
    // to be created so. Corners are rounded where the window manager can show them.
    explicit PopoverEdge(QWidget* window);
    PopoverEdge(QWidget* window, bool roundsCorners);

    // Keeps the edge above `content`.
    void setContent(QWidget* content);
    bool roundsCorners() const { return m_roundsCorners; }
    // Whether an X11 compositing manager runs on the display; false on other platforms.
    static bool windowManagerComposites();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void fitToWindow();

    QPointer<QWidget> m_content;
    bool m_roundsCorners = false;
};
