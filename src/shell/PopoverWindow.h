#pragma once

#include <QElapsedTimer>
#include <QPoint>
#include <QRect>
#include <QTimer>
#include <QWidget>

// The frameless window that hangs below the status item and holds the popover's content.
// It closes on a click anywhere outside it.
class PopoverWindow : public QWidget {
    Q_OBJECT

public:
    static constexpr QSize kSize{368, 620};
    // A click on the status item that closes the popover also reaches the item a moment later;
    // within this time after an outside-click close, a toggle only confirms the close.
    static constexpr int kReopenGuardMs = 350;
    static constexpr int kGrabRetryMs = 100;
    static constexpr int kGrabAttempts = 100;
    // How far from the point the popover was opened from a click still counts as one on the
    // status item.
    static constexpr int kAnchorReach = 32;

    explicit PopoverWindow(QWidget* parent = nullptr);

    void setContent(QWidget* content);
    QWidget* content() const { return m_content; }

    // Opens below (or above, for a panel at the bottom) the anchor, or closes when open.
    void toggle(const QPoint& anchor);
    void open(const QPoint& anchor);
    void close();

Q_SIGNALS:
    // A right click outside closed the popover; `at` in global coordinates, and whether it
    // landed where the popover was opened from (the status item).
    void secondaryClickOutside(const QPoint& at, bool onAnchor);

protected:
    void hideEvent(QHideEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    // Some hosts open their own (empty) menu on a click and hold the pointer while it shows;
    // keep asking for the grab until they let go, so an outside click still closes us.
    void retryGrab();

    QTimer* m_grabRetry = nullptr;
    int m_grabAttempts = 0;
    QWidget* m_content = nullptr;
    class PopoverEdge* m_edge = nullptr;
    QElapsedTimer m_hiddenAt;
    QElapsedTimer m_shownAt;
    QPoint m_anchor;
    bool m_closingOnPurpose = false;
};
