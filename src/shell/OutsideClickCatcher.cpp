#include "shell/OutsideClickCatcher.h"

#include "shell/XWaylandActivation.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>

OutsideClickCatcher::OutsideClickCatcher()
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus |
                           Qt::NoDropShadowWindowHint)
{
    setObjectName(QStringLiteral("outsideClickCatcher"));
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_X11DoNotAcceptFocus);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setWindowTitle(QStringLiteral("Zentrow"));
}

void OutsideClickCatcher::showUnder(const QWidget& popover)
{
    const QScreen* screen = popover.screen() ? popover.screen() : QGuiApplication::primaryScreen();
    if (!screen) {
        return;
    }
    setGeometry(screen->virtualGeometry());
    if (!isVisible()) {
        XWaylandActivation::keepOutOfWindowLists(*this);
    }
    show();
}

void OutsideClickCatcher::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    Q_EMIT clicked();
}

void OutsideClickCatcher::paintEvent(QPaintEvent* event)
{
    // Fully transparent: nothing to draw.
    Q_UNUSED(event);
}
