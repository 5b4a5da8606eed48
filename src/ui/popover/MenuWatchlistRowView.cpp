#include "ui/popover/MenuWatchlistRowView.h"

#include "ui/kit/Shapes.h"
#include "ui/kit/SpringAnimation.h"
#include "ui/kit/TokenIconView.h"
#include "ui/popover/WatchlistRowMetrics.h"

#include <QAccessible>
#include <QApplication>
#include <QContextMenuEvent>
#include <QCursor>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <functional>
#include <optional>
#include <utility>

using namespace WatchlistRowMetrics;

namespace {

const Spring kExpansionSpring{0.32, 0.83};
const Spring kHoverSpring{0.16, 1.0};

QList<QPointer<MenuWatchlistRowView>>& rowsAwaitingHoverCheck()
{
    static QList<QPointer<MenuWatchlistRowView>> rows;
    return rows;
}

// A transparent layer above the row's children that paints what it is given.
class PaintOverlay final : public QWidget {
public:
    PaintOverlay(std::function<void(QPainter&)> paint, QWidget* parent)
        : QWidget(parent)
        , m_paint(std::move(paint))
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        m_paint(painter);
    }

private:
    std::function<void(QPainter&)> m_paint;
};

} // namespace

MenuWatchlistRowView::MenuWatchlistRowView(const TokenSummary& token, const QString& priceText,
                                           const QString& changeText, bool isExpanded, bool showsDebugFrames,
                                           QWidget* parent)
    : QWidget(parent)
    , m_token(token)
    , m_priceText(priceText)
    , m_changeText(changeText)
    , m_isExpanded(isExpanded)
    , m_showsDebugFrames(showsDebugFrames)
    , m_expansion(new SpringAnimation(kExpansionSpring, this))
    , m_hover(new SpringAnimation(kHoverSpring, this))
{
    setObjectName(QStringLiteral("watchlistRow"));
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    m_expansion->setObjectName(QStringLiteral("expansionSpring"));
    m_hover->setObjectName(QStringLiteral("hoverSpring"));
    m_expansion->setValue(isExpanded ? 1.0 : 0.0);
    connect(m_expansion, &SpringAnimation::valueChanged, this, [this] {
        placeAccessory();
        updateGeometry();
        update();
    });
    connect(m_hover, &SpringAnimation::valueChanged, this, qOverload<>(&QWidget::update));
    updateIcon();
    updateDebugOverlay();
    updateAccessibleName();
}

MenuWatchlistRowView::~MenuWatchlistRowView() = default;

qreal MenuWatchlistRowView::expansion() const
{
    return m_expansion->value();
}

qreal MenuWatchlistRowView::hoverAmount() const
{
    return m_hover->value();
}

void MenuWatchlistRowView::setToken(const TokenSummary& token)
{
    if (token == m_token) {
        return;
    }
    const bool iconChanged = token.symbol != m_token.symbol || token.logoURL != m_token.logoURL;
    if (token.symbol != m_token.symbol || token.name != m_token.name) {
        m_identityValid = false;
    }
    m_token = token;
    if (iconChanged) {
        updateIcon();
    }
    contentChanged();
}

void MenuWatchlistRowView::setPriceText(const QString& text)
{
    if (text == m_priceText) {
        return;
    }
    m_priceText = text;
    m_pricesValid = false;
    contentChanged();
}

void MenuWatchlistRowView::setChangeText(const QString& text)
{
    if (text == m_changeText) {
        return;
    }
    m_changeText = text;
    m_pricesValid = false;
    contentChanged();
}

void MenuWatchlistRowView::setExpanded(bool expanded)
{
    if (expanded == m_isExpanded) {
        return;
    }
    m_isExpanded = expanded;
    m_inserting = expanded;
    if (!expanded && m_accessory && m_accessory->isAncestorOf(QApplication::focusWidget())) {
        // The panel is closing under the keyboard: the focus goes back to its row.
        setFocus(Qt::OtherFocusReason);
    }
    m_expansion->animateTo(expanded ? 1.0 : 0.0);
    QAccessible::State changed;
    changed.expanded = true;
    changed.collapsed = true;
    QAccessibleStateChangeEvent event(this, changed);
    QAccessible::updateAccessibility(&event);
    update();
}

void MenuWatchlistRowView::setShowsDebugFrames(bool shows)
{
    if (shows == m_showsDebugFrames) {
        return;
    }
    m_showsDebugFrames = shows;
    updateDebugOverlay();
}

void MenuWatchlistRowView::setAlertMark(PriceAlerts::Mark mark)
{
    if (mark == m_alertMark) {
        return;
    }
    m_alertMark = mark;
    // The symbol gives the bell room.
    m_identityValid = false;
    updateAccessibleName();
    update();
}

void MenuWatchlistRowView::setAccessory(QWidget* accessory)
{
    if (accessory == m_accessory) {
        return;
    }
    delete m_accessory;
    m_accessory = accessory;
    if (m_accessory) {
        m_accessory->setParent(this);
        m_accessory->installEventFilter(this);
    }
    placeAccessory();
    updateGeometry();
    if (m_debugOverlay) {
        m_debugOverlay->raise();
    }
}

int MenuWatchlistRowView::accessoryHeight() const
{
    return m_accessory ? m_accessory->sizeHint().height() : 0;
}

void MenuWatchlistRowView::placeAccessory()
{
    if (!m_accessory) {
        return;
    }
    const RowFonts& f = fonts();
    const int top = int(std::ceil(f.compactHeight + f.detailHeight()));
    m_accessory->setGeometry(0, top, width(), accessoryHeight());
    m_accessory->setVisible(m_expansion->value() > 0.001);
}

bool MenuWatchlistRowView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_accessory && event->type() == QEvent::LayoutRequest) {
        // The panel grew or shrank (an alert added or deleted): so does the row.
        placeAccessory();
        updateGeometry();
    }
    return QWidget::eventFilter(watched, event);
}

void MenuWatchlistRowView::updateDebugOverlay()
{
    if (!m_showsDebugFrames) {
        delete m_debugOverlay;
        m_debugOverlay = nullptr;
        return;
    }
    if (!m_debugOverlay) {
        m_debugOverlay = new PaintOverlay([this](QPainter& painter) { paintDebugFrames(painter); }, this);
        m_debugOverlay->setObjectName(QStringLiteral("debugOutlines"));
    }
    m_debugOverlay->setGeometry(rect());
    m_debugOverlay->raise();
    m_debugOverlay->show();
    m_debugOverlay->update();
}

void MenuWatchlistRowView::contentChanged()
{
    // Texts are measured and elided when the row is next painted, so rows scrolled out of
    // sight cost nothing on a price refresh.
    m_detailValid = false;
    updateAccessibleName();
    update();
}

void MenuWatchlistRowView::updateIcon()
{
    delete m_icon;
    m_icon = new TokenIconView(m_token, kIconSize, this);
    m_icon->setObjectName(QStringLiteral("rowIcon"));
    m_icon->setAttribute(Qt::WA_TransparentForMouseEvents);
    const qreal top = (fonts().compactHeight - kIconSize) / 2;
    m_icon->move(int(kPadding), int(std::round(top)));
    m_icon->show();
    if (m_debugOverlay) {
        // A new child lands on top; the outlines stay above it.
        m_debugOverlay->raise();
    }
}

void MenuWatchlistRowView::updateAccessibleName()
{
    // Renamed in place, and only when the words change: a refresh that moves no figure a screen
    // reader reads says nothing, one that does raises no more than a name change.
    QStringList parts{m_token.symbol, m_token.name, m_priceText, m_changeText};
    if (m_alertMark == PriceAlerts::Mark::Armed) {
        parts.append(tr("已设提醒"));
    } else if (m_alertMark == PriceAlerts::Mark::Fired) {
        parts.append(tr("提醒已触发"));
    }
    const QString name = parts.join(QStringLiteral(", "));
    if (name != accessibleName()) {
        setAccessibleName(name);
    }
}

qreal MenuWatchlistRowView::backgroundOpacity() const
{
    const qreal expansion = std::clamp(m_expansion->value(), 0.0, 1.0);
    const qreal hovered = kHoveredFill * std::clamp(m_hover->value(), 0.0, 1.0);
    return hovered + (kExpandedFill - hovered) * expansion;
}

int MenuWatchlistRowView::heightFor(qreal expansion) const
{
    const RowFonts& f = fonts();
    const qreal detail = expansion > 0 ? expansion * (f.detailHeight() + accessoryHeight()) : 0.0;
    return int(std::ceil(f.compactHeight + detail - 0.001));
}

QSize MenuWatchlistRowView::sizeHint() const
{
    return {kNaturalWidth, heightFor(m_expansion->value())};
}

QSize MenuWatchlistRowView::minimumSizeHint() const
{
    return {0, heightFor(m_expansion->value())};
}

void MenuWatchlistRowView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    placeAccessory();
    if (m_debugOverlay) {
        m_debugOverlay->setGeometry(rect());
    }
}

bool MenuWatchlistRowView::isOnShape(const QPointF& pos) const
{
    return Shapes::continuousRoundedRect(QRectF(rect()), kCornerRadius).contains(pos);
}

void MenuWatchlistRowView::enterEvent(QEnterEvent* event)
{
    QWidget::enterEvent(event);
    setHovered(true);
}

void MenuWatchlistRowView::leaveEvent(QEvent* event)
{
    QWidget::leaveEvent(event);
    setHovered(false);
}

void MenuWatchlistRowView::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    // A reorder moves every row below the moved one: they ask together, on the next pass, so
    // one pointer query (a round trip to the display server) serves the whole list.
    if (std::exchange(m_hoverCheckPending, true)) {
        return;
    }
    QList<QPointer<MenuWatchlistRowView>>& waiting = rowsAwaitingHoverCheck();
    if (waiting.isEmpty()) {
        QMetaObject::invokeMethod(QCoreApplication::instance(), &MenuWatchlistRowView::syncMovedRowsWithPointer,
                                  Qt::QueuedConnection);
    }
    waiting.append(this);
}

void MenuWatchlistRowView::setHovered(bool hovered)
{
    if (hovered == m_isHovered)
        return;
    m_isHovered = hovered;
    m_hover->animateTo(hovered ? 1.0 : 0.0);
}

void MenuWatchlistRowView::syncMovedRowsWithPointer()
{
    const QList<QPointer<MenuWatchlistRowView>> rows = std::exchange(rowsAwaitingHoverCheck(), {});
    std::optional<const QWidget*> under;
    for (MenuWatchlistRowView* row : rows) {
        if (!row) {
            continue;
        }
        row->m_hoverCheckPending = false;
        if (!row->isVisible()) {
            continue;
        }
        // The widget on top under the pointer: another window or a clipping parent counts.
        if (!under) {
            under = QApplication::widgetAt(QCursor::pos());
        }
        row->setHovered(*under && (*under == row || row->isAncestorOf(*under)));
    }
}

void MenuWatchlistRowView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && isOnShape(event->position())) {
        m_pressed = true;
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void MenuWatchlistRowView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    const bool isTap = m_pressed && isOnShape(event->position());
    m_pressed = false;
    event->accept();
    if (isTap) {
        Q_EMIT tapped();
    }
}

void MenuWatchlistRowView::contextMenuEvent(QContextMenuEvent* event)
{
    event->accept();
    Q_EMIT contextMenuRequested(event->globalPos());
}
