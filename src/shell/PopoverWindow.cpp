#include "shell/PopoverWindow.h"

#include <QCursor>
#include <QGuiApplication>
#include <QHideEvent>
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
}

QRect PopoverWindow::placement(const QPoint& anchor, const QSize& size, const QRect& screen, const QRect& available)
{
    const QRect area = available.isValid() ? available : screen;
    int y = 0;
    if (anchor.y() < area.top()) {
        // The click was on a reserved panel at the top: hang right below it.
        y = area.top() + kMargin;
    } else if (anchor.y() > area.bottom()) {
        y = area.bottom() + 1 - size.height() - kMargin;
    } else if (anchor.y() - area.top() < area.height() / 2) {
        y = anchor.y() + 2 * kMargin;
    } else {
        y = anchor.y() - 2 * kMargin - size.height();
    }
    int x = anchor.x() - size.width() / 2;
    x = std::clamp(x, area.left() + kMargin, std::max(area.left() + kMargin, area.right() + 1 - size.width() - kMargin));
    y = std::clamp(y, area.top(), std::max(area.top(), area.bottom() + 1 - size.height()));
    return QRect(QPoint(x, y), size);
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
    QScreen* screen = QGuiApplication::screenAt(anchor);
    if (!screen) {
        screen = QGuiApplication::primaryScreen();
    }
    if (screen) {
        setGeometry(placement(anchor, kSize, screen->geometry(), screen->availableGeometry()));
    }
    show();
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
