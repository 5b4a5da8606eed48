#include "ui/popover/SearchResultRowView.h"

#include "ui/kit/AccessibleRole.h"
#include "ui/kit/FocusRing.h"
#include "ui/kit/Palette.h"
#include "ui/kit/Shapes.h"
#include "ui/kit/SingleLineText.h"
#include "ui/kit/TokenIconView.h"
#include "ui/kit/Typography.h"

#include <QAbstractButton>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

using Typography::Weight;

constexpr qreal kTextSpacing = 4;
constexpr qreal kButtonRadius = 11;
constexpr int kButtonMinWidth = 72;
constexpr int kButtonPaddingX = 12;
constexpr int kButtonPaddingY = 8;
constexpr qreal kDisabledOpacity = 0.4;

const QFont& symbolFont()
{
    static const QFont kFont = Typography::font(16, Weight::Semibold);
    return kFont;
}

const QFont& nameFont()
{
    static const QFont kFont = Typography::font(12);
    return kFont;
}

const QFont& buttonFont()
{
    static const QFont kFont = Typography::font(15, Weight::Semibold);
    return kFont;
}

qreal lineHeight(const QFont& font)
{
    return QFontMetricsF(font).height();
}

// "添加" / "已添加" on a soft rounded plate; dimmed while disabled.
class AddButton final : public QAbstractButton {
public:
    using QAbstractButton::QAbstractButton;

    QSize sizeHint() const override
    {
        const QFontMetricsF metrics(buttonFont());
        const int width =
            std::max(kButtonMinWidth, int(std::ceil(metrics.horizontalAdvance(text()))) + 2 * kButtonPaddingX);
        return {width, int(std::ceil(metrics.height())) + 2 * kButtonPaddingY};
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        qreal opacity = isEnabled() ? 1.0 : kDisabledOpacity;
        if (isDown()) {
            opacity *= 0.6;
        }
        painter.setOpacity(opacity);
        painter.fillPath(Shapes::continuousRoundedRect(QRectF(rect()), kButtonRadius), Palette::black(0.08));
        painter.setFont(buttonFont());
        painter.setPen(Palette::black(0.65));
        painter.drawText(QRectF(rect()), Qt::AlignCenter | Qt::TextSingleLine, text());
        if (FocusRing::shows(*this)) {
            painter.setOpacity(1);
            FocusRing::paint(painter,
                             Shapes::continuousRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), kButtonRadius - 1));
        }
    }
    bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }
};

} // namespace

SearchResultRowView::SearchResultRowView(QWidget* parent)
    : QWidget(parent)
    , m_addButton(new AddButton(this))
{
    setObjectName(QStringLiteral("searchResultRow"));
    AccessibleRole::set(*this, QAccessible::ListItem);
    // Reached with the arrow keys from the search field, not with Tab.
    setFocusPolicy(Qt::ClickFocus);
    m_addButton->setObjectName(QStringLiteral("addButton"));
    m_addButton->setFocusPolicy(Qt::TabFocus);
    connect(m_addButton, &QAbstractButton::clicked, this, [this] {
        if (m_hasToken && !m_isAdded) {
            Q_EMIT addRequested(m_token);
        }
    });
}

SearchResultRowView::~SearchResultRowView() = default;

int SearchResultRowView::rowHeight()
{
    static const int kHeight = [] {
        const qreal text = lineHeight(symbolFont()) + kTextSpacing + lineHeight(nameFont());
        const qreal button = lineHeight(buttonFont()) + 2 * kButtonPaddingY;
        return int(std::ceil(2 * kPaddingY + std::max({qreal(kIconSize), text, button})));
    }();
    return kHeight;
}

QSize SearchResultRowView::sizeHint() const
{
    return {340, rowHeight()};
}

void SearchResultRowView::setToken(const TokenSummary& token, bool isAdded)
{
    const bool iconChanged = !m_icon || token.symbol != m_token.symbol || token.logoURL != m_token.logoURL;
    const bool changed = !m_hasToken || !(token == m_token) || isAdded != m_isAdded;
    m_token = token;
    m_hasToken = true;
    m_isAdded = isAdded;
    if (iconChanged) {
        delete m_icon;
        m_icon = new TokenIconView(m_token, kIconSize, this);
        m_icon->setObjectName(QStringLiteral("resultIcon"));
        m_icon->setAttribute(Qt::WA_TransparentForMouseEvents);
        m_icon->show();
    }
    if (changed) {
        m_addButton->setText(isAdded ? tr("已添加") : tr("添加"));
        m_addButton->setEnabled(!isAdded);
        setAccessibleName(m_token.symbol + QStringLiteral(", ") + m_token.name);
        setAccessibleDescription(m_addButton->text());
        layoutChildren();
        update();
    }
}

void SearchResultRowView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    layoutChildren();
}

void SearchResultRowView::layoutChildren()
{
    const int h = height();
    if (m_icon) {
        m_icon->move(kPaddingX, (h - kIconSize) / 2);
    }
    const QSize button = m_addButton->sizeHint();
    m_addButton->setGeometry(width() - kPaddingX - button.width(), (h - button.height()) / 2, button.width(),
                             button.height());
}

void SearchResultRowView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(Shapes::continuousRoundedRect(QRectF(rect()), kCornerRadius), Palette::black(0.024));
    if (FocusRing::shows(*this)) {
        FocusRing::paint(painter,
                         Shapes::continuousRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), kCornerRadius - 1));
    }

    const qreal left = kPaddingX + kIconSize + kSpacing;
    const qreal right = m_addButton->geometry().left() - kSpacing;
    const qreal width = std::max(0.0, right - left);
    const qreal symbolH = lineHeight(symbolFont());
    const qreal nameH = lineHeight(nameFont());
    const qreal top = (height() - (symbolH + kTextSpacing + nameH)) / 2;
    const int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine | Qt::TextDontClip;

    painter.setFont(symbolFont());
    painter.setPen(Palette::black(0.85));
    painter.drawText(QRectF(left, top, width, symbolH), flags,
                     SingleLineText::elided(m_token.symbol, symbolFont(), width));
    painter.setFont(nameFont());
    painter.setPen(Palette::black(0.45));
    painter.drawText(QRectF(left, top + symbolH + kTextSpacing, width, nameH), flags,
                     SingleLineText::elided(m_token.name, nameFont(), width));
}

void SearchResultRowView::keyPressEvent(QKeyEvent* event)
{
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && m_addButton->isEnabled()) {
        event->accept();
        m_addButton->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void SearchResultRowView::focusInEvent(QFocusEvent* event)
{
    QWidget::focusInEvent(event);
    update();
}

void SearchResultRowView::focusOutEvent(QFocusEvent* event)
{
    QWidget::focusOutEvent(event);
    update();
}
