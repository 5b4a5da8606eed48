#pragma once

#include <QElapsedTimer>
#include <QPoint>
#include <QRect>
#include <QTimer>
#include <QWidget>

#include <memory>

class OutsideClickCatcher;
class XWaylandActivation;

// The frameless window that hangs below the status item and holds the popover's content.
// It closes on a click anywhere outside it, and on Escape.
class PopoverWindow : public QWidget {
    Q_OBJECT

public:
    // How the popover holds the keyboard and learns of clicks outside it.
    enum class Kind {
        // An X11 popup that grabs pointer and keyboard: on X11 desktops every click reaches the grab.
        GrabbingPopup,
        // A managed window that the window manager focuses, closing when it loses the focus. Under
        // a Wayland session the app's X windows live in Xwayland, which sees no click outside
        // them and whose grabs and override-redirect windows never get the keyboard.
        FocusedWindow,
    };
    // FocusedWindow in a Wayland session, GrabbingPopup elsewhere.
    static Kind kindForSession();

    static constexpr QSize kSize{368, 620};
    // A click on the status item that closes the popover also reaches the item a moment later;
    // within this time after an outside-click close, a toggle only confirms the close.
    static constexpr int kReopenGuardMs = 350;
    static constexpr int kGrabRetryMs = 100;
    static constexpr int kGrabAttempts = 100;
    // How far from the point the popover was opened from a click still counts as one on the
    // status item.
    static constexpr int kAnchorReach = 32;
    static constexpr int kActivationAttempts = 30;

    explicit PopoverWindow(Kind kind = kindForSession(), QWidget* parent = nullptr);
    ~PopoverWindow() override;

    Kind kind() const { return m_kind; }

    void setContent(QWidget* content);
    QWidget* content() const { return m_content; }

    // Opens below (or above, for a panel at the bottom) the anchor, or closes when open.
    void toggle(const QPoint& anchor);
    void open(const QPoint& anchor);
    void close();
    // Gives the open popover the keyboard again (the item's menu was used while it was open).
    void bringForward();

Q_SIGNALS:
    // A right click outside closed the popover; `at` in global coordinates, and whether it
    // landed where the popover was opened from (the status item).
    void secondaryClickOutside(const QPoint& at, bool onAnchor);

protected:
    void hideEvent(QHideEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

private Q_SLOTS:
    // GNOME Shell's own properties: its overview takes the keyboard with a grab of the shell's,
    // of which Xwayland tells its windows nothing.
    void shellPropertiesChanged(const QString& interface, const QVariantMap& changed);

private:
    // Some hosts open their own (empty) menu on a click and hold the pointer while it shows;
    // keep asking for the grab until they let go, so an outside click still closes us.
    void retryGrab();
    // The focused window's counterpart: asks for the focus until the window manager gives it.
    void retryActivation();
    void closeUnlessActive();
    void leaveOverview();

    Kind m_kind;
    std::unique_ptr<XWaylandActivation> m_activation;
    std::unique_ptr<OutsideClickCatcher> m_catcher;
    bool m_wasActive = false;
    bool m_overviewShown = false;

    QTimer* m_grabRetry = nullptr;
    int m_grabAttempts = 0;
    QWidget* m_content = nullptr;
    class PopoverEdge* m_edge = nullptr;
    QElapsedTimer m_hiddenAt;
    QElapsedTimer m_shownAt;
    QPoint m_anchor;
    bool m_closingOnPurpose = false;
};
