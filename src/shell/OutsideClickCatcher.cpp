#include "shell/OutsideClickCatcher.h"

#include "shell/XWaylandActivation.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>

namespace {

constexpr Qt::WindowFlags kInvisible =
    Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus | Qt::NoDropShadowWindowHint;

void makeInvisible(QWidget& window)
{
    window.setAttribute(Qt::WA_TranslucentBackground);
    window.setAttribute(Qt::WA_X11DoNotAcceptFocus);
    window.setAttribute(Qt::WA_ShowWithoutActivating);
    window.setWindowTitle(QStringLiteral("Zentrow"));
}

// The space panels reserve along the edges of screen `s` whose work area is `a`.
QList<QRect> panelStrips(const QRect& s, const QRect& a)
{
    if (!a.isValid() || !s.contains(a)) {
        return {};
    }
    QList<QRect> strips;
    if (a.top() > s.top()) {
        strips.append(QRect(QPoint(s.left(), s.top()), QPoint(s.right(), a.top() - 1)));
    }
    if (a.bottom() < s.bottom()) {
        strips.append(QRect(QPoint(s.left(), a.bottom() + 1), QPoint(s.right(), s.bottom())));
    }
    // Side panels only between the top and bottom ones, so that no point is covered twice.
    if (a.left() > s.left()) {
        strips.append(QRect(QPoint(s.left(), a.top()), QPoint(a.left() - 1, a.bottom())));
    }
    if (a.right() < s.right()) {
        strips.append(QRect(QPoint(a.right() + 1, a.top()), QPoint(s.right(), a.bottom())));
    }
    return strips;
}

} // namespace

OutsideClickCatcher::OutsideClickCatcher()
    : QWidget(nullptr, Qt::Window | Qt::WindowStaysOnTopHint | kInvisible)
{
    setObjectName(QStringLiteral("outsideClickCatcher"));
    makeInvisible(*this);
}

OutsideClickCatcher::~OutsideClickCatcher() = default;

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
    XWaylandActivation::restoreStates(*this);

    QList<QRect> strips;
    for (const QScreen* each : QGuiApplication::screens()) {
        strips += panelStrips(each->geometry(), each->availableGeometry());
    }
    while (m_panelCovers.size() < size_t(strips.size())) {
        // Unmanaged: the window manager neither places, lists nor focuses it. A plain window
        // type names no transient parent, which the window manager would find missing.
        auto cover = std::make_unique<QWidget>(nullptr, Qt::Window | Qt::BypassWindowManagerHint | kInvisible);
        cover->setObjectName(QStringLiteral("panelCover"));
        makeInvisible(*cover);
        cover->installEventFilter(this);
        m_panelCovers.push_back(std::move(cover));
    }
    for (size_t i = 0; i < m_panelCovers.size(); ++i) {
        QWidget& cover = *m_panelCovers[i];
        if (i < size_t(strips.size())) {
            cover.setGeometry(strips.at(qsizetype(i)));
            cover.show();
            cover.raise();
        } else {
            cover.hide();
        }
    }
}

bool OutsideClickCatcher::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonPress) {
        event->accept();
        Q_EMIT clicked();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void OutsideClickCatcher::hideEvent(QHideEvent* event)
{
    for (const std::unique_ptr<QWidget>& cover : m_panelCovers) {
        cover->hide();
    }
    QWidget::hideEvent(event);
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
