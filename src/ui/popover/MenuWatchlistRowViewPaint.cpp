// The row's layout and painting: measured lazily, part by part, and drawn without child widgets
// for the texts and charts.
#include "ui/popover/MenuWatchlistRowView.h"

#include "ui/kit/FocusRing.h"
#include "ui/kit/Glyphs.h"
#include "ui/kit/Palette.h"
#include "ui/kit/Shapes.h"
#include "ui/kit/SingleLineText.h"
#include "ui/kit/SpringAnimation.h"
#include "ui/kit/TrendSparklineView.h"
#include "ui/popover/RowFigures.h"
#include "ui/popover/WatchlistRowMetrics.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

using namespace WatchlistRowMetrics;

namespace {

MenuWatchlistRowView::Layout::Text fitted(const QString& text, const QFont& font, const QRectF& rect)
{
    return {rect, SingleLineText::elided(text, font, rect.width())};
}

qreal advance(const QString& text, const QFont& font)
{
    return QFontMetricsF(font).horizontalAdvance(SingleLineText::flattened(text));
}

void drawText(QPainter& painter, const MenuWatchlistRowView::Layout::Text& text, const QFont& font, const QColor& color,
              Qt::Alignment alignment)
{
    if (text.text.isEmpty()) {
        return;
    }
    painter.setFont(font);
    painter.setPen(color);
    painter.drawText(text.rect, int(alignment | Qt::AlignVCenter) | Qt::TextSingleLine | Qt::TextDontClip, text.text);
}

// The bell beside the symbol, at the symbol's cap height.
constexpr qreal kBellSize = 12;
constexpr qreal kBellGap = 4;

QPen outlinePen(const QColor& color)
{
    QPen pen(color, 1, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
    pen.setMiterLimit(10);
    return pen;
}

QColor tint(bool up)
{
    return up ? Palette::green() : Palette::red();
}

} // namespace

const MenuWatchlistRowView::Layout& MenuWatchlistRowView::layout() const
{
    ensureIdentity();
    ensurePrices();
    ensureDetail();
    return m_layout;
}

void MenuWatchlistRowView::ensureFrame() const
{
    const int width = this->width();
    if (width == m_layoutWidth) {
        return;
    }
    m_layoutWidth = width;
    m_identityValid = m_pricesValid = m_detailValid = false;

    const RowFonts& f = fonts();
    Layout& l = m_layout;
    const qreal w = width;
    l.compactHeight = f.compactHeight;
    l.compactRow = QRectF(0, 0, w, l.compactHeight);
    const qreal centre = l.compactHeight / 2;

    // Price block and trend cell keep their fixed places at the right; the identity block takes
    // what is left, so a long name is elided instead of pushing them.
    const qreal priceH = RowFonts::lineHeight(f.price);
    const qreal changeH = RowFonts::lineHeight(f.change);
    const qreal priceBlockH = priceH + kPriceLineSpacing + changeH;
    l.priceBlock = QRectF(w - kPadding - kPriceBlockWidth, centre - priceBlockH / 2, kPriceBlockWidth, priceBlockH);
    l.price.rect = QRectF(l.priceBlock.left(), l.priceBlock.top(), kPriceBlockWidth, priceH);
    l.change.rect =
        QRectF(l.priceBlock.left(), l.priceBlock.top() + priceH + kPriceLineSpacing, kPriceBlockWidth, changeH);
    l.trendCell = QRectF(
        QPointF(l.priceBlock.left() - kRowSpacing - kTrendCell.width(), centre - kTrendCell.height() / 2), kTrendCell);
    l.icon = QRectF(kPadding, centre - kIconSize / 2, kIconSize, kIconSize);
}

void MenuWatchlistRowView::ensureIdentity() const
{
    ensureFrame();
    if (m_identityValid) {
        return;
    }
    m_identityValid = true;
    const RowFonts& f = fonts();
    Layout& l = m_layout;
    const qreal centre = l.compactHeight / 2;
    const qreal textLeft = kPadding + kIconSize + kIdentitySpacing;
    const qreal available = l.trendCell.left() - kRowSpacing - kPadding;
    const qreal bellRoom = m_alertMark == PriceAlerts::Mark::None ? 0.0 : kBellGap + kBellSize;
    const qreal natural = kIconSize + kIdentitySpacing +
                          std::max(advance(m_token.symbol, f.symbol) + bellRoom, advance(m_token.name, f.name));
    const qreal identityW = std::max(kIdentityMinWidth, std::min(natural, available));
    const qreal textW = std::max(0.0, std::min(identityW, available) - kIconSize - kIdentitySpacing);
    const qreal symbolH = RowFonts::lineHeight(f.symbol);
    const qreal nameH = RowFonts::lineHeight(f.name);
    const qreal stackH = symbolH + kIdentityLineSpacing + nameH;
    const qreal identityH = std::max(kIconSize, stackH);
    l.identityBlock = QRectF(kPadding, centre - identityH / 2, identityW, identityH);
    const qreal stackTop = centre - stackH / 2;
    l.symbol = fitted(m_token.symbol, f.symbol, QRectF(textLeft, stackTop, std::max(0.0, textW - bellRoom), symbolH));
    l.bell = QRectF();
    if (bellRoom > 0) {
        const qreal symbolW = std::min(advance(l.symbol.text, f.symbol), l.symbol.rect.width());
        l.bell = QRectF(textLeft + symbolW + kBellGap, stackTop + (symbolH - kBellSize) / 2, kBellSize, kBellSize);
    }
    l.name = fitted(m_token.name, f.name, QRectF(textLeft, stackTop + symbolH + kIdentityLineSpacing, textW, nameH));
}

void MenuWatchlistRowView::ensurePrices() const
{
    ensureFrame();
    if (m_pricesValid) {
        return;
    }
    m_pricesValid = true;
    const RowFonts& f = fonts();
    m_layout.price = fitted(m_priceText, f.price, m_layout.price.rect);
    m_layout.change = fitted(m_changeText, f.change, m_layout.change.rect);
}

void MenuWatchlistRowView::ensureDetail() const
{
    ensureFrame();
    if (m_detailValid) {
        return;
    }
    m_detailValid = true;
    const RowFonts& f = fonts();
    Layout& l = m_layout;
    const qreal w = l.compactRow.width();
    l.detailHeight = f.detailHeight();
    // Detail panel, as it stands when fully open.
    const qreal top = l.compactHeight;
    l.hairline =
        QRectF(kHairlineLeft, top + kHairlineAbove, std::max(0.0, w - kHairlineLeft - kHairlineRight), kHairlineHeight);
    const qreal columnTop = top + kHairlineAbove + kHairlineHeight + kDetailPaddingY;
    const qreal rightColumn = w - kDetailPaddingX - kDetailRightColumnWidth;
    const qreal detailChangeH = RowFonts::lineHeight(f.detailChange);
    const qreal detailAmountH = RowFonts::lineHeight(f.detailAmount);
    l.detailChange.rect = QRectF(rightColumn, columnTop, kDetailRightColumnWidth, detailChangeH);
    l.detailAmount.rect =
        QRectF(rightColumn, columnTop + detailChangeH + kChangeAmountSpacing, kDetailRightColumnWidth, detailAmountH);
    l.detailChartSlot = QRectF(
        QPointF(w - kDetailPaddingX - kDetailChartSlot.width(), l.detailAmount.rect.bottom() + kRightColumnSpacing),
        kDetailChartSlot);
    const qreal leftW = std::max(0.0, rightColumn - kDetailColumnSpacing - kDetailPaddingX);
    l.detailName.rect = QRectF(kDetailPaddingX, columnTop, leftW, RowFonts::lineHeight(f.detailName));
    l.detailPrice.rect = QRectF(kDetailPaddingX, l.detailName.rect.bottom() + kNamePriceSpacing, leftW,
                                RowFonts::lineHeight(f.detailPrice));
    const qreal metricH = f.metricHeight();
    qreal y = l.detailPrice.rect.bottom() + kLeftColumnSpacing;
    for (Layout::Metric& metric : l.metrics) {
        metric.title.rect = QRectF(kDetailPaddingX, y, leftW, metricH);
        y += metricH + kMetricSpacing;
    }

    const QString amount = RowFigures::signedChangeAmountText(m_token);
    l.detailChange = fitted(m_changeText, f.detailChange, l.detailChange.rect);
    l.detailAmount = fitted(amount, f.detailAmount, l.detailAmount.rect);
    l.detailName = fitted(m_token.name, f.detailName, l.detailName.rect);
    l.detailPrice = fitted(m_priceText, f.detailPrice, l.detailPrice.rect);
    const QList<RowFigures::Metric> metrics = RowFigures::metrics(m_token);
    for (std::size_t i = 0; i < l.metrics.size(); ++i) {
        const RowFigures::Metric& metric = metrics.at(qsizetype(i));
        QRectF row = l.metrics[i].title.rect;
        row.setWidth(leftW);
        // The figure is what the row is for: it keeps its full width, and a title that no longer
        // fits beside it is the one shortened.
        const qreal valueW = std::min(advance(metric.value, f.metricValue), leftW);
        const qreal titleW = std::min(advance(metric.title, f.metricTitle), std::max(0.0, leftW - valueW - kMetricGap));
        l.metrics[i].title = fitted(metric.title, f.metricTitle, QRectF(row.left(), row.top(), titleW, row.height()));
        l.metrics[i].value =
            fitted(metric.value, f.metricValue, QRectF(row.right() - valueW, row.top(), valueW, row.height()));
    }
}

void MenuWatchlistRowView::paintEvent(QPaintEvent*)
{
    ensureIdentity();
    ensurePrices();
    const Layout& l = m_layout;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);

    const qreal fill = backgroundOpacity();
    if (fill > 0) {
        painter.fillPath(Shapes::continuousRoundedRect(QRectF(rect()), kCornerRadius), Palette::black(fill));
    }
    paintCompact(painter, l);
    if (m_expansion->value() > 0.001) {
        ensureDetail();
        paintDetail(painter, l);
    }
    if (FocusRing::shows(*this)) {
        FocusRing::paint(painter,
                         Shapes::continuousRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), kCornerRadius - 1));
    }
}

void MenuWatchlistRowView::paintCompact(QPainter& painter, const Layout& l)
{
    const RowFonts& f = fonts();
    const bool up = RowFigures::isUp(m_token.change24h);
    drawText(painter, l.symbol, f.symbol, Palette::black(0.74), Qt::AlignLeft);
    drawText(painter, l.name, f.name, Palette::black(0.42), Qt::AlignLeft);
    if (!l.bell.isEmpty()) {
        const bool fired = m_alertMark == PriceAlerts::Mark::Fired;
        Glyphs::paint(painter, l.bell, fired ? Glyphs::Glyph::BellFill : Glyphs::Glyph::Bell, kBellSize,
                      Typography::Weight::Semibold, fired ? Palette::orange() : Palette::black(0.42));
    }
    drawText(painter, l.price, f.price, Palette::black(0.78), Qt::AlignRight);
    drawText(painter, l.change, f.change, up ? Palette::green(0.9) : Palette::red(0.92), Qt::AlignRight);

    // The small chart gives way to the large one while the row is expanded; the empty cell
    // keeps the columns where they are.
    const qreal shown = 1.0 - std::clamp(m_expansion->value(), 0.0, 1.0);
    if (m_token.trend7d.size() >= 2 && shown > 0.001) {
        painter.save();
        painter.setOpacity(shown);
        const double first = m_token.trend7d.first();
        TrendSparklineView::paint(painter, l.trendCell,
                                  {m_token.trend7d, tint(up), false, true, false, true, first, kCompactLineWidth});
        painter.restore();
    }
}

void MenuWatchlistRowView::paintDetail(QPainter& painter, const Layout& l)
{
    const RowFonts& f = fonts();
    const qreal progress = std::clamp(m_expansion->value(), 0.0, 1.0);
    const qreal width = l.compactRow.width();
    const qreal top = l.compactHeight;

    painter.save();
    painter.setClipRect(QRectF(0, top, width, std::max(0.0, height() - top)));
    painter.setOpacity(progress);
    const qreal scale =
        m_inserting ? kInsertScale + (1 - kInsertScale) * progress : kRemoveScale + (1 - kRemoveScale) * progress;
    const qreal shift = m_inserting ? -(1 - progress) * l.detailHeight : 0.0;
    painter.translate(width / 2, top + shift);
    painter.scale(scale, scale);
    painter.translate(-width / 2, -top);

    painter.fillRect(l.hairline, Palette::black(0.045));
    const bool up = RowFigures::isUp(m_token.change24h);
    drawText(painter, l.detailName, f.detailName, Palette::black(0.46), Qt::AlignLeft);
    drawText(painter, l.detailPrice, f.detailPrice, Palette::black(0.82), Qt::AlignLeft);
    for (const Layout::Metric& metric : l.metrics) {
        drawText(painter, metric.title, f.metricTitle, Palette::black(0.46), Qt::AlignLeft);
        drawText(painter, metric.value, f.metricValue, Palette::black(0.72), Qt::AlignRight);
    }
    drawText(painter, l.detailChange, f.detailChange, up ? Palette::green(0.92) : Palette::red(0.94), Qt::AlignRight);
    drawText(painter, l.detailAmount, f.detailAmount, up ? Palette::green(0.72) : Palette::red(0.78), Qt::AlignRight);

    const QList<double>& values = RowFigures::detailTrendValues(m_token);
    // Fewer than two samples draw no line, and then no baseline either.
    const std::optional<double> baseline = values.size() < 2 ? std::nullopt : std::optional<double>(values.first());
    TrendSparklineView::paint(painter, l.detailChartSlot,
                              {values, tint(up), false, true, true, true, baseline, kDetailLineWidth});
    painter.restore();
}

void MenuWatchlistRowView::paintDebugFrames(QPainter& painter)
{
    const Layout& l = layout();
    constexpr qreal kBlockRadius = 6;
    constexpr qreal kRowRadius = 10;
    painter.save();
    painter.setBrush(Qt::NoBrush);
    painter.setPen(outlinePen(Palette::blue()));
    painter.drawPath(Shapes::continuousRoundedRect(l.identityBlock, kBlockRadius));
    painter.setPen(outlinePen(Palette::green()));
    painter.drawPath(Shapes::continuousRoundedRect(l.trendCell, kBlockRadius));
    painter.setPen(outlinePen(Palette::orange()));
    painter.drawPath(Shapes::continuousRoundedRect(l.priceBlock, kBlockRadius));
    painter.setPen(outlinePen(Palette::red(0.8)));
    // Half a point in, so the stroke is not cut by the row's own edge.
    painter.drawPath(Shapes::continuousRoundedRect(l.compactRow.adjusted(0.5, 0.5, -0.5, -0.5), kRowRadius));
    painter.restore();
}
