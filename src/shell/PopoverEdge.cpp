#include "shell/PopoverEdge.h"

#include "ui/kit/Palette.h"
#include "ui/kit/Shapes.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

PopoverEdge::PopoverEdge(QWidget* window)
    : PopoverEdge(window, windowManagerComposites())
{
}

PopoverEdge::PopoverEdge(QWidget* window, bool roundsCorners)
    : QWidget(window)
    , m_roundsCorners(roundsCorners)
{
    setObjectName(QStringLiteral("popoverEdge"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    if (m_roundsCorners) {
        window->setAttribute(Qt::WA_TranslucentBackground);
    }
    window->installEventFilter(this);
    fitToWindow();
}

bool PopoverEdge::windowManagerComposites()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return false;
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return false;
    // A compositing manager owns the selection _NET_WM_CM_S<screen>.
    const QByteArray name = "_NET_WM_CM_S0";
    const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> atom(
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 1, quint16(name.size()), name.constData()),
                              nullptr),
        &std::free);
    if (!atom || atom->atom == XCB_NONE)
        return false;
    const std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)> owner(
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, atom->atom), nullptr),
        &std::free);
    return owner && owner->owner != XCB_NONE;
}

void PopoverEdge::setContent(QWidget* content)
{
    m_content = content;
    raise();
}

bool PopoverEdge::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == parent() && (event->type() == QEvent::Resize || event->type() == QEvent::ChildAdded)) {
        fitToWindow();
    }
    return QWidget::eventFilter(watched, event);
}

void PopoverEdge::fitToWindow()
{
    if (QWidget* window = parentWidget()) {
        setGeometry(window->rect());
        raise();
    }
}

void PopoverEdge::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, m_roundsCorners);
    const QRectF line = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QPen(Palette::separator(), 1));
    painter.setBrush(Qt::NoBrush);
    if (m_roundsCorners) {
        // Clears what the content drew outside the rounded outline, with partial coverage along
        // the curve: a mask would cut whole (logical) pixels and show steps at every scale above 1.
        QPainterPath outside;
        outside.addRect(rect());
        outside = outside.subtracted(Shapes::continuousRoundedRect(QRectF(rect()), kCornerRadius));
        painter.save();
        painter.setCompositionMode(QPainter::CompositionMode_Clear);
        painter.fillPath(outside, Qt::black);
        painter.restore();
        painter.drawPath(Shapes::continuousRoundedRect(line, kCornerRadius));
    } else {
        painter.drawRect(line);
    }
}
