#include "shell/PopoverWindow.h"

#include "shell/DockWindows.h"
#include "shell/OutsideClickCatcher.h"
#include "shell/PopoverEdge.h"
#include "shell/PopoverPlacement.h"
#include "shell/XWaylandActivation.h"
#include "ui/kit/AccessibleRole.h"

#include <QApplication>
#include <QCursor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QHideEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

namespace {

const QString kShellService = QStringLiteral("org.gnome.Shell");
const QString kShellPath = QStringLiteral("/org/gnome/Shell");

bool onX11()
{
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

Qt::WindowFlags flagsFor(PopoverWindow::Kind kind)
{
    const Qt::WindowFlags common = Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint;
    if (kind == PopoverWindow::Kind::GrabbingPopup) {
        return Qt::Popup | common;
    }
    // A plain top-level: a tool or dialog window would name a transient parent we do not have.
    return Qt::Window | Qt::WindowStaysOnTopHint | common;
}

} // namespace

PopoverWindow::Kind PopoverWindow::kindForSession()
{
    const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
                         qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland");
    return wayland ? Kind::FocusedWindow : Kind::GrabbingPopup;
}

PopoverWindow::PopoverWindow(Kind kind, QWidget* parent)
    : QWidget(parent, flagsFor(kind))
    , m_kind(kind)
{
    setObjectName(QStringLiteral("popoverWindow"));
    // What the window manager lists it as, should it list it anywhere.
    setWindowTitle(QStringLiteral("Zentrow"));
    // The title is also its name to a screen reader, which takes it for a window only when told.
    AccessibleRole::set(*this, QAccessible::Window);
    setFixedSize(kSize);
    setAttribute(Qt::WA_DeleteOnClose, false);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_edge = new PopoverEdge(this);
    // A screen that goes away takes its windows to another screen; a popover should just close.
    connect(qApp, &QGuiApplication::screenRemoved, this, [this] { close(); });
    m_grabRetry = new QTimer(this);
    m_grabRetry->setInterval(kGrabRetryMs);
    if (m_kind == Kind::FocusedWindow) {
        m_activation = std::make_unique<XWaylandActivation>();
        connect(m_grabRetry, &QTimer::timeout, this, &PopoverWindow::retryActivation);
        QDBusConnection::sessionBus().connect(
            kShellService, kShellPath, QStringLiteral("org.freedesktop.DBus.Properties"),
            QStringLiteral("PropertiesChanged"), this, SLOT(shellPropertiesChanged(QString, QVariantMap)));
        if (onX11()) {
            // A click on the desktop moves no focus there; this window takes it instead.
            m_catcher = std::make_unique<OutsideClickCatcher>();
            connect(m_catcher.get(), &OutsideClickCatcher::clicked, this, [this] { hide(); });
        }
    } else {
        connect(m_grabRetry, &QTimer::timeout, this, &PopoverWindow::retryGrab);
    }
}

PopoverWindow::~PopoverWindow() = default;

void PopoverWindow::retryGrab()
{
    QWindow* window = windowHandle();
    if (!isVisible() || !window || ++m_grabAttempts > kGrabAttempts) {
        m_grabRetry->stop();
        return;
    }
    const bool mouse = window->setMouseGrabEnabled(true);
    const bool keyboard = window->setKeyboardGrabEnabled(true);
    if (mouse && keyboard) {
        m_grabRetry->stop();
        activateWindow();
    }
}

void PopoverWindow::setContent(QWidget* content)
{
    if (m_content) {
        m_content->deleteLater();
    }
    m_content = content;
    if (m_content) {
        m_content->setFixedSize(kSize);
        layout()->addWidget(m_content);
    }
    m_edge->setContent(m_content);
}

void PopoverWindow::toggle(const QPoint& anchor)
{
    if (isVisible()) {
        // A host that is slow to pass on a double click can report its second click later than
        // the item's own coalescing allows: a person does not open and close within that time.
        if (m_shownAt.isValid() && m_shownAt.elapsed() < QApplication::doubleClickInterval()) {
            return;
        }
        close();
        return;
    }
    if (m_hiddenAt.isValid() && m_hiddenAt.elapsed() < kReopenGuardMs) {
        // The click that just closed us by landing outside was this very click on the item.
        m_hiddenAt.invalidate();
        return;
    }
    open(anchor);
}

void PopoverWindow::open(const QPoint& requested)
{
    const QPoint anchor = requested.isNull() ? QCursor::pos() : requested;
    QList<PopoverPlacement::Screen> screens;
    for (const QScreen* screen : QGuiApplication::screens()) {
        screens.append({screen->geometry(), screen->availableGeometry()});
    }
    m_anchor = anchor;
    if (!screens.isEmpty()) {
        setGeometry(PopoverPlacement::place(anchor, kSize, screens, DockWindows::geometries()));
    }
    if (m_kind == Kind::FocusedWindow) {
        if (m_catcher) {
            m_catcher->showUnder(*this);
        }
        if (!isVisible()) {
            XWaylandActivation::keepOutOfWindowLists(*this);
        }
        if (m_overviewShown) {
            leaveOverview();
        }
        show();
        XWaylandActivation::restoreStates(*this);
        m_shownAt.start();
        bringForward();
    } else {
        show();
        m_shownAt.start();
        raise();
        activateWindow();
        if (onX11()) {
            m_grabAttempts = 0;
            m_grabRetry->start();
        }
    }
    if (m_content) {
        m_content->setFocus(Qt::PopupFocusReason);
    }
}

void PopoverWindow::bringForward()
{
    raise();
    if (m_kind == Kind::FocusedWindow && onX11()) {
        // Qt's own request carries the app's last X time, which the window manager turns down.
        m_grabAttempts = 0;
        retryActivation();
        m_grabRetry->start();
    } else {
        activateWindow();
    }
}

void PopoverWindow::retryActivation()
{
    // The window manager ignores requests for a window it has not taken on yet.
    if (!isVisible() || isActiveWindow() || ++m_grabAttempts > kActivationAttempts) {
        m_grabRetry->stop();
        return;
    }
    m_activation->activate(*this);
}

void PopoverWindow::changeEvent(QEvent* event)
{
    if (m_kind == Kind::FocusedWindow && event->type() == QEvent::ActivationChange) {
        if (isActiveWindow()) {
            m_wasActive = true;
            m_grabRetry->stop();
        } else if (m_wasActive && isVisible()) {
            // Losing the focus is how a click elsewhere, the shell's overview or another window
            // shows here. Looked at once the focus has settled.
            QTimer::singleShot(0, this, &PopoverWindow::closeUnlessActive);
        }
    }
    QWidget::changeEvent(event);
}

void PopoverWindow::closeUnlessActive()
{
    if (!isVisible() || isActiveWindow()) {
        return;
    }
    if (QApplication::activePopupWidget()) {
        // One of the content's menus holds the keyboard; look again once it has gone.
        QTimer::singleShot(kGrabRetryMs, this, &PopoverWindow::closeUnlessActive);
        return;
    }
    // As a click outside: the same click reaching the item must not reopen the popover.
    hide();
}

void PopoverWindow::shellPropertiesChanged(const QString& interface, const QVariantMap& changed)
{
    const QString overview = QStringLiteral("OverviewActive");
    if (interface != QLatin1String("org.gnome.Shell") || !changed.contains(overview)) {
        return;
    }
    m_overviewShown = changed.value(overview).toBool();
    if (m_overviewShown && isVisible()) {
        hide();
    }
}

void PopoverWindow::leaveOverview()
{
    // The overview covers every window, and a window that takes the focus does not end it; the
    // top bar stays within reach there, and a click on the item is meant to show the popover.
    QDBusMessage set = QDBusMessage::createMethodCall(
        kShellService, kShellPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Set"));
    set << QStringLiteral("org.gnome.Shell") << QStringLiteral("OverviewActive")
        << QVariant::fromValue(QDBusVariant(false));
    set.setAutoStartService(false);
    QDBusConnection::sessionBus().call(set, QDBus::NoBlock);
}

void PopoverWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Cancel)) {
        event->accept();
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void PopoverWindow::close()
{
    m_closingOnPurpose = true;
    hide();
    m_closingOnPurpose = false;
}

void PopoverWindow::hideEvent(QHideEvent* event)
{
    m_grabRetry->stop();
    m_wasActive = false;
    if (m_catcher) {
        m_catcher->hide();
    }
    if (!m_closingOnPurpose) {
        m_hiddenAt.start();
    } else {
        m_hiddenAt.invalidate();
    }
    QWidget::hideEvent(event);
}

void PopoverWindow::mousePressEvent(QMouseEvent* event)
{
    const QPoint at = event->globalPosition().toPoint();
    if (rect().contains(event->position().toPoint())) {
        QWidget::mousePressEvent(event);
        return;
    }
    const bool onAnchor = (at - m_anchor).manhattanLength() <= kAnchorReach;
    if (event->button() == Qt::LeftButton && onAnchor && m_shownAt.isValid() &&
        m_shownAt.elapsed() < QApplication::doubleClickInterval()) {
        // The second click of the double click that opened us: the host's item lies under our grab.
        event->accept();
        return;
    }
    if (event->button() == Qt::RightButton) {
        event->accept();
        close();
        Q_EMIT secondaryClickOutside(at, onAnchor);
        return;
    }
    QWidget::mousePressEvent(event);
}
