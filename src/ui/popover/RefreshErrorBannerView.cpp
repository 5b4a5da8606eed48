#include "ui/popover/RefreshErrorBannerView.h"

#include "ui/kit/AccessibleRole.h"
#include "ui/kit/FocusRing.h"
#include "ui/kit/GlyphView.h"
#include "ui/kit/Palette.h"
#include "ui/kit/PlainLabel.h"
#include "ui/kit/Shapes.h"
#include "ui/kit/SpringAnimation.h"
#include "ui/kit/Typography.h"

#include <QAbstractButton>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QRegularExpression>
#include <QTextEdit>
#include <QTextOption>

#include <algorithm>
#include <cmath>

namespace {

using Typography::Weight;

const Spring kExpandSpring{0.26, 0.83};
constexpr int kPaddingX = 12;
constexpr int kPaddingY = 10;
constexpr int kHeaderSpacing = 10;
constexpr int kDividerHeight = 1;

// The header is one button: its whole row is the hit area, its labels are only pictures.
class BannerHeaderButton final : public QAbstractButton {
public:
    using QAbstractButton::QAbstractButton;

protected:
    void paintEvent(QPaintEvent*) override
    {
        if (FocusRing::shows(*this)) {
            QPainter painter(this);
            FocusRing::paint(painter, Shapes::continuousRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1),
                                                                    RefreshErrorBannerView::kCornerRadius - 1));
        }
    }
    bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }
};

QTextOption wrapping()
{
    QTextOption option;
    // Error texts may hold long URLs or paths without spaces; they must wrap too.
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    return option;
}

} // namespace

RefreshErrorBannerView::RefreshErrorBannerView(QWidget* parent)
    : QWidget(parent)
    , m_expansion(new SpringAnimation(kExpandSpring, this))
{
    setObjectName(QStringLiteral("refreshErrorBanner"));
    AccessibleRole::set(*this, QAccessible::AlertMessage);
    setAccessibleName(tr("网络错误"));
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    m_expansion->setObjectName(QStringLiteral("bannerSpring"));

    m_header = new BannerHeaderButton(this);
    m_header->setObjectName(QStringLiteral("bannerHeaderButton"));
    m_header->setFocusPolicy(Qt::TabFocus);
    m_header->setAccessibleName(tr("网络错误"));
    auto* row = new QHBoxLayout(m_header);
    row->setContentsMargins(kPaddingX, kPaddingY, kPaddingX, kPaddingY);
    row->setSpacing(kHeaderSpacing);
    auto* icon =
        new GlyphView(Glyphs::Glyph::ExclamationmarkTriangleFill, 12, Weight::Semibold, Palette::red(0.82), m_header);
    icon->setObjectName(QStringLiteral("bannerIcon"));
    row->addWidget(icon);
    row->addWidget(new PlainLabel(tr("网络错误"), Typography::font(12, Weight::Semibold), Palette::red(0.86),
                                  QStringLiteral("bannerTitleLabel"), m_header));
    row->addStretch(1);
    m_time = new PlainLabel(QString(), Typography::font(11, Weight::Medium), Palette::red(0.6),
                            QStringLiteral("bannerTimeLabel"), m_header);
    row->addWidget(m_time);
    m_chevron = new GlyphView(Glyphs::Glyph::ChevronDown, 11, Weight::Semibold, Palette::red(0.72), m_header);
    m_chevron->setObjectName(QStringLiteral("bannerChevron"));
    row->addWidget(m_chevron);
    for (QWidget* child : m_header->findChildren<QWidget*>()) {
        child->setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    connect(m_header, &QAbstractButton::clicked, this, &RefreshErrorBannerView::toggleRequested);

    m_messageClip = new QWidget(this);
    m_messageClip->setObjectName(QStringLiteral("bannerMessageArea"));
    m_message = new QTextEdit(m_messageClip);
    m_message->setObjectName(QStringLiteral("bannerMessage"));
    m_message->setAccessibleName(tr("网络错误"));
    m_message->setReadOnly(true);
    m_message->setAcceptRichText(false);
    m_message->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_message->setFrameShape(QFrame::NoFrame);
    m_message->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_message->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_message->document()->setDocumentMargin(0);
    m_message->document()->setDefaultTextOption(wrapping());
    m_message->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    const QFont messageFont = Typography::font(12);
    m_message->setFont(messageFont);
    m_message->document()->setDefaultFont(messageFont);
    QPalette palette = m_message->palette();
    palette.setColor(QPalette::Text, Palette::red(0.8));
    palette.setColor(QPalette::Base, Qt::transparent);
    m_message->setPalette(palette);
    m_message->viewport()->setAutoFillBackground(false);
    m_message->setAutoFillBackground(false);

    m_measure.setDocumentMargin(0);
    m_measure.setDefaultFont(messageFont);
    m_measure.setDefaultTextOption(wrapping());

    m_messageClip->hide();
    connect(m_expansion, &SpringAnimation::valueChanged, this, &RefreshErrorBannerView::expansionMoved);
}

RefreshErrorBannerView::~RefreshErrorBannerView() = default;

QString RefreshErrorBannerView::timeText(const QDateTime& occurredAt)
{
    // Hours and minutes in every locale: the C and English short formats carry seconds too.
    static const QRegularExpression kSeconds(QStringLiteral("[.:]?s{1,2}(\\.z+)?"));
    const QLocale locale;
    QString format = locale.timeFormat(QLocale::ShortFormat);
    format.remove(kSeconds);
    return locale.toString(occurredAt.toLocalTime().time(), format.trimmed());
}

void RefreshErrorBannerView::setBanner(const RefreshErrorBannerState& banner)
{
    if (banner == m_banner) {
        return;
    }
    const bool messageChanged = banner.message != m_banner.message;
    m_banner = banner;
    m_time->setText(timeText(banner.occurredAt));
    if (messageChanged) {
        // Plain text: an error message is shown as it came, never interpreted as markup.
        m_message->setPlainText(banner.message);
        setAccessibleDescription(banner.message);
        m_measure.setPlainText(banner.message);
        m_measuredWidth = -1;
        updateGeometry();
        layoutChildren();
    }
}

void RefreshErrorBannerView::setExpanded(bool expanded, bool animated)
{
    if (expanded == m_isExpanded) {
        return;
    }
    m_isExpanded = expanded;
    m_chevron->setGlyph(expanded ? Glyphs::Glyph::ChevronUp : Glyphs::Glyph::ChevronDown);
    if (animated) {
        m_expansion->animateTo(expanded ? 1.0 : 0.0);
    } else {
        m_expansion->setValue(expanded ? 1.0 : 0.0);
    }
}

qreal RefreshErrorBannerView::expansion() const
{
    return m_expansion->value();
}

int RefreshErrorBannerView::headerHeight() const
{
    return m_header->sizeHint().height();
}

qreal RefreshErrorBannerView::messageTextHeight(int width) const
{
    const int textWidth = std::max(1, width - 2 * kPaddingX);
    if (textWidth != m_measuredWidth) {
        m_measure.setTextWidth(textWidth);
        m_measuredHeight = m_measure.size().height();
        m_measuredWidth = textWidth;
    }
    return std::min<qreal>(m_measuredHeight, kMaxMessageTextHeight);
}

qreal RefreshErrorBannerView::messageBlockHeight(int width) const
{
    return kDividerHeight + 2 * kPaddingY + std::ceil(messageTextHeight(width));
}

int RefreshErrorBannerView::heightForWidth(int width) const
{
    const qreal progress = std::max(0.0, m_expansion->value());
    return headerHeight() + int(std::ceil(progress * messageBlockHeight(width) - 0.001));
}

QSize RefreshErrorBannerView::sizeHint() const
{
    const int width = this->width() > 0 ? this->width() : 344;
    return {width, heightForWidth(width)};
}

QSize RefreshErrorBannerView::minimumSizeHint() const
{
    return {0, heightForWidth(width())};
}

void RefreshErrorBannerView::expansionMoved()
{
    const qreal progress = m_expansion->value();
    const bool settled = m_expansion->state() != QAbstractAnimation::Running;
    // The message fades while it moves; once it rests it needs no effect in the way of selection.
    if (settled || progress >= 1.0) {
        m_message->setGraphicsEffect(nullptr);
    } else {
        auto* effect = qobject_cast<QGraphicsOpacityEffect*>(m_message->graphicsEffect());
        if (!effect) {
            effect = new QGraphicsOpacityEffect(m_message);
            m_message->setGraphicsEffect(effect);
        }
        effect->setOpacity(std::clamp(progress, 0.0, 1.0));
    }
    updateGeometry();
    layoutChildren();
    update();
}

void RefreshErrorBannerView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    layoutChildren();
}

void RefreshErrorBannerView::layoutChildren()
{
    const int w = width();
    const int headerH = headerHeight();
    m_header->setGeometry(0, 0, w, headerH);

    const qreal progress = std::clamp(m_expansion->value(), 0.0, 1.0);
    const bool shown = progress > 0.001;
    m_messageClip->setVisible(shown);
    if (!shown) {
        return;
    }
    const int top = headerH + kDividerHeight;
    m_messageClip->setGeometry(0, top, w, std::max(0, height() - top));
    const qreal textH = std::ceil(messageTextHeight(w));
    const qreal block = 2 * kPaddingY + textH;
    // Moves in from the top edge as it opens.
    const int shift = int(std::round(-(1.0 - progress) * block));
    m_message->setGeometry(kPaddingX, kPaddingY + shift, std::max(1, w - 2 * kPaddingX), int(textH));
}

void RefreshErrorBannerView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const QPainterPath shape = Shapes::continuousRoundedRect(bounds, kCornerRadius);
    painter.fillPath(shape, Palette::red(0.07));
    if (m_expansion->value() > 0.001) {
        painter.fillRect(QRectF(0, headerHeight(), width(), kDividerHeight), Palette::red(0.12));
    }
    QPen pen(Palette::red(0.12), 1, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
    pen.setMiterLimit(10);
    painter.strokePath(shape, pen);
}
