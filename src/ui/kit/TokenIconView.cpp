#include "ui/kit/TokenIconView.h"

#include "ui/kit/ImageLoader.h"
#include "ui/kit/LayerCache.h"
#include "ui/kit/Palette.h"
#include "ui/kit/SpringAnimation.h"
#include "ui/kit/Typography.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QTextBoundaryFinder>

#include <cmath>
#include <functional>
#include <memory>

namespace {

// The logo is framed to size − size × 0.28, the badge's diameter.
constexpr qreal kLogoShrinkFraction = 0.28;
constexpr qreal kOutlineOpacity = 0.18;
const Spring kLogoSpring{0.2, 1.0};

struct PaletteEntry {
    const char* symbol;
    TokenIconView::BadgePalette colors;
};

const QList<PaletteEntry>& paletteTable()
{
    using namespace Palette;
    // clang-format off
    static const QList<PaletteEntry> kTable{
        {"BTC",  {orange(),     yellow()}},
        {"ETH",  {gray(0.9),    black(0.6)}},
        {"SOL",  {teal(),       purple()}},
        {"DOGE", {yellow(0.85), orange()}},
        {"XRP",  {black(),      gray()}},
        {"ADA",  {blue(),       indigo()}},
        {"BNB",  {orange(0.9),  yellow(0.7)}},
        {"LINK", {blue(),       cyan()}},
        {"AVAX", {red(),        pink()}},
    };
    // clang-format on
    return kTable;
}

bool isUsableSize(qreal size)
{
    return std::isfinite(size) && size > 0;
}

QString layerKey(QLatin1StringView kind, qreal size, qreal ratio, const QString& symbol = {})
{
    return QLatin1StringView("TokenIconView|") + kind + QLatin1Char('|') + QString::number(size) + QLatin1Char('|') +
           QString::number(ratio) + QLatin1Char('|') + symbol;
}

// The white disc and its outline.
QImage baseLayer(qreal size, qreal ratio)
{
    return LayerCache::layer(layerKey(QLatin1StringView("base"), size, ratio), QSizeF(size, size), ratio,
                             [size](QPainter& painter) {
                                 QPainterPath disc;
                                 disc.addEllipse(QRectF(0, 0, size, size));
                                 painter.fillPath(disc, Palette::white());
                                 QPainterPath outline;
                                 outline.addEllipse(TokenIconView::outlineRect(size));
                                 QPen pen(Palette::black(kOutlineOpacity), TokenIconView::kOutlineWidth, Qt::SolidLine,
                                          Qt::FlatCap, Qt::MiterJoin);
                                 pen.setMiterLimit(10);
                                 painter.strokePath(outline, pen);
                             });
}

// The gradient disc with the monogram, for one symbol as stored.
QImage badgeLayer(const QString& symbol, qreal size, qreal ratio)
{
    const QString key = layerKey(QLatin1StringView("badge"), size, ratio, symbol);
    return LayerCache::layer(key, QSizeF(size, size), ratio, [&symbol, size](QPainter& painter) {
        const QRectF badge = TokenIconView::badgeRect(size);
        const TokenIconView::BadgePalette colors = TokenIconView::palette(symbol);
        QLinearGradient gradient(badge.topLeft(), badge.bottomRight());
        gradient.setColorAt(0, colors.start);
        gradient.setColorAt(1, colors.end);
        QPainterPath disc;
        disc.addEllipse(badge);
        painter.fillPath(disc, gradient);

        const QString monogram = TokenIconView::fallbackMonogram(symbol);
        if (monogram.isEmpty())
            return;
        const qreal pointSize = TokenIconView::monogramPointSize(size);
        const QFont font = Typography::font(pointSize, Typography::Weight::Bold, Typography::Design::Rounded);
        const qreal scale = Typography::exactScale(font, pointSize);
        painter.translate(badge.center());
        painter.scale(scale, scale);
        painter.setFont(font);
        painter.setPen(Palette::white());
        const qreal room = size / scale;
        painter.drawText(QRectF(-room, -room, 2 * room, 2 * room), Qt::AlignCenter, monogram);
    });
}

} // namespace

TokenIconView::TokenIconView(const TokenSummary& token, qreal size, QWidget* parent)
    : TokenIconView(token, size, nullptr, parent)
{
    startLoading(ImageLoader::shared());
}

TokenIconView::TokenIconView(const TokenSummary& token, qreal size, ImageLoader& loader, QWidget* parent)
    : TokenIconView(token, size, nullptr, parent)
{
    startLoading(&loader);
}

TokenIconView::TokenIconView(const TokenSummary& token, qreal size, std::nullptr_t, QWidget* parent)
    : QWidget(parent)
    , m_token(token)
    , m_size(isUsableSize(size) ? std::min(size, 4096.0) : 0.0)
    , m_fade(new SpringAnimation(kLogoSpring, this))
{
    const int side = int(std::ceil(m_size));
    setFixedSize(side, side);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    m_fade->setObjectName(QStringLiteral("logoFade"));
    connect(m_fade, &SpringAnimation::valueChanged, this, qOverload<>(&QWidget::update));
}

void TokenIconView::startLoading(ImageLoader* loader)
{
    if (!loader || !m_token.logoURL || !ImageLoader::isFetchable(*m_token.logoURL))
        return;
    // A logo already in memory shows at once; fading it in again on every rebuild of a list
    // would make the whole list flicker.
    const QImage cached = loader->cachedImage(*m_token.logoURL);
    if (!cached.isNull()) {
        m_logo = cached;
        m_fade->setValue(1.0);
        return;
    }
    loader->load(*m_token.logoURL, this, [this](const QImage& image) { showLogo(image); });
}

TokenIconView::~TokenIconView() = default;

qreal TokenIconView::logoOpacity() const
{
    return m_logo.isNull() ? 0.0 : m_fade->value();
}

void TokenIconView::showLogo(const QImage& image)
{
    if (image.isNull())
        return;
    m_logo = image;
    m_prepared = QImage();
    m_fade->animateTo(1.0);
    update();
}

TokenIconView::BadgePalette TokenIconView::palette(const QString& symbol)
{
    const QString key = symbol.toUpper();
    for (const PaletteEntry& entry : paletteTable()) {
        if (key == QLatin1String(entry.symbol))
            return entry.colors;
    }
    return {Palette::gray(0.7), Palette::gray(0.45)};
}

QString TokenIconView::fallbackMonogram(const QString& symbol)
{
    if (symbol.isEmpty())
        return {};
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, symbol);
    const qsizetype end = finder.toNextBoundary();
    return end > 0 ? symbol.left(end) : symbol.left(1);
}

qreal TokenIconView::badgeInset(qreal size)
{
    return size * kBadgeInsetFraction;
}

QRectF TokenIconView::badgeRect(qreal size)
{
    const qreal inset = badgeInset(size);
    return {inset, inset, size - 2 * inset, size - 2 * inset};
}

QRectF TokenIconView::logoRect(qreal size)
{
    const qreal side = size - size * kLogoShrinkFraction;
    return {(size - side) / 2, (size - side) / 2, side, side};
}

qreal TokenIconView::monogramPointSize(qreal size)
{
    return size * kMonogramFraction;
}

QRectF TokenIconView::outlineRect(qreal size)
{
    const qreal half = kOutlineWidth / 2;
    return QRectF(0, 0, size, size).adjusted(half, half, -half, -half);
}

QImage TokenIconView::prepareLogo(const QImage& image, qreal size, qreal devicePixelRatio)
{
    if (image.isNull() || !isUsableSize(size) || !isUsableSize(devicePixelRatio))
        return {};
    // Fill the circle: crop the longer side to a centred square, scale it to the circle in device
    // pixels, and cut the circle out once here rather than on every paint.
    const int side = std::min(image.width(), image.height());
    const QRectF target = logoRect(size);
    const int pixels = std::max(1, int(std::ceil(target.width() * devicePixelRatio)));
    const QImage square = image.copy((image.width() - side) / 2, (image.height() - side) / 2, side, side)
                              .scaled(pixels, pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                              .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    return LayerCache::render(QSizeF(size, size), devicePixelRatio, [&](QPainter& painter) {
        QBrush brush(square);
        const qreal scale = target.width() / pixels;
        brush.setTransform(QTransform::fromTranslate(target.left(), target.top()).scale(scale, scale));
        QPainterPath circle;
        circle.addEllipse(target);
        painter.fillPath(circle, brush);
    });
}

void TokenIconView::paint(QPainter& painter, const QRectF& frame, const QString& symbol, const QImage& preparedLogo,
                          qreal logoOpacity)
{
    const qreal size = std::min(frame.width(), frame.height());
    if (!isUsableSize(size))
        return;
    const qreal ratio = LayerCache::deviceRatio(painter);
    const QRectF target(frame.topLeft(), QSizeF(size, size));
    const bool showsLogo = !preparedLogo.isNull() && logoOpacity > 0;
    const qreal badgeOpacity = showsLogo ? std::clamp(1.0 - logoOpacity, 0.0, 1.0) : 1.0;

    // Layers made for this ratio are copied; under a scaling transform (or at a fractional
    // position) they are resampled to the frame.
    auto draw = [&](const QImage& layer) {
        if (!LayerCache::drawExact(painter, target.topLeft(), layer))
            painter.drawImage(target, layer);
    };
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    draw(baseLayer(size, ratio));
    if (badgeOpacity > 0) {
        painter.setOpacity(badgeOpacity);
        draw(badgeLayer(symbol, size, ratio));
    }
    if (showsLogo) {
        painter.setOpacity(std::clamp(logoOpacity, 0.0, 1.0));
        draw(preparedLogo);
    }
    painter.restore();
}

void TokenIconView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const qreal ratio = LayerCache::deviceRatio(painter);
    if (!m_logo.isNull() && (m_prepared.isNull() || m_preparedRatio != ratio)) {
        m_prepared = prepareLogo(m_logo, m_size, ratio);
        m_preparedRatio = ratio;
    }
    QRectF frame(0, 0, m_size, m_size);
    frame.moveCenter(QRectF(rect()).center());
    paint(painter, frame, m_token.symbol, m_prepared, logoOpacity());
}
