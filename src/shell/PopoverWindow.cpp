#include "shell/PopoverWindow.h"

#include "shell/DockWindows.h"
#include "shell/PopoverEdge.h"
#include "shell/PopoverPlacement.h"

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QHideEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

PopoverWindow::PopoverWindow(QWidget* parent)
    : QWidget(parent, Qt::Popup | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint)
{
    setObjectName(QStringLiteral("popoverWindow"));
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
    connect(m_grabRetry, &QTimer::timeout, this, &PopoverWindow::retryGrab);
}

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
    show();
    m_shownAt.start();
    raise();
    activateWindow();
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        m_grabAttempts = 0;
        m_grabRetry->start();
    }
    if (m_content) {
        m_content->setFocus(Qt::PopupFocusReason);
    }
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
