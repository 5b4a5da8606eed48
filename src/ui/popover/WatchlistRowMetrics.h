#pragma once

#include "ui/kit/Typography.h"
#include "ui/popover/MenuWatchlistRowView.h"

#include <QFont>
#include <QFontMetricsF>

#include <algorithm>

// The watchlist row's spacings, fills and fonts, shared by its behaviour and its painting.
namespace WatchlistRowMetrics {

using Typography::Design;
using Typography::Weight;

inline constexpr qreal kRowSpacing = 10;
inline constexpr qreal kIdentitySpacing = 9;
inline constexpr qreal kIdentityLineSpacing = 1;
inline constexpr qreal kPriceLineSpacing = 2;
inline constexpr qreal kExpandedFill = 0.032;
inline constexpr qreal kHoveredFill = 0.028;

inline constexpr qreal kHairlineAbove = 1;
inline constexpr qreal kHairlineHeight = 0.8;
inline constexpr qreal kHairlineLeft = 61;
inline constexpr qreal kHairlineRight = 10;
inline constexpr qreal kDetailPaddingX = 12;
inline constexpr qreal kDetailPaddingY = 10;
inline constexpr qreal kDetailColumnSpacing = 12;
inline constexpr qreal kLeftColumnSpacing = 10;
inline constexpr qreal kNamePriceSpacing = 4;
inline constexpr qreal kMetricSpacing = 5;
inline constexpr qreal kMetricGap = 8;
inline constexpr qreal kRightColumnSpacing = 8;
inline constexpr qreal kChangeAmountSpacing = 2;

inline constexpr qreal kInsertScale = 0.985;
inline constexpr qreal kRemoveScale = 0.995;

inline constexpr qreal kCompactLineWidth = 2.1;
inline constexpr qreal kDetailLineWidth = 2.0;
inline constexpr int kNaturalWidth = 344;

// Fonts and line heights are fixed, so the row's heights never depend on its texts.
struct RowFonts {
    QFont symbol = Typography::font(15, Weight::Semibold);
    QFont name = Typography::font(11);
    QFont price = Typography::font(15, Weight::Semibold, Design::Rounded);
    QFont change = Typography::font(11, Weight::Semibold, Design::Rounded);
    QFont detailName = Typography::font(12, Weight::Semibold);
    QFont detailPrice = Typography::font(28, Weight::Light, Design::Rounded);
    QFont metricTitle = Typography::font(11, Weight::Medium);
    QFont metricValue = Typography::font(12, Weight::Semibold, Design::Rounded);
    QFont detailChange = Typography::font(17, Weight::Bold, Design::Rounded);
    QFont detailAmount = Typography::font(12, Weight::Semibold, Design::Rounded);

    static qreal lineHeight(const QFont& font) { return QFontMetricsF(font).height(); }

    qreal metricHeight() const { return std::max(lineHeight(metricTitle), lineHeight(metricValue)); }

    // Both heights depend on the fonts alone; measured once.
    const qreal compactHeight = [this] {
        const qreal identity = lineHeight(symbol) + kIdentityLineSpacing + lineHeight(name);
        const qreal prices = lineHeight(price) + kPriceLineSpacing + lineHeight(change);
        const qreal content =
            std::max({MenuWatchlistRowView::kIconSize, identity, prices, MenuWatchlistRowView::kTrendCell.height()});
        return 2 * MenuWatchlistRowView::kPadding + content;
    }();
    // Measured when a row first opens, so a collapsed list loads none of the detail fonts.
    qreal detailHeight() const
    {
        static const qreal kHeight = [this] {
            const qreal left = lineHeight(detailName) + kNamePriceSpacing + lineHeight(detailPrice) +
                               kLeftColumnSpacing + 4 * metricHeight() + 3 * kMetricSpacing;
            const qreal right = lineHeight(detailChange) + kChangeAmountSpacing + lineHeight(detailAmount) +
                                kRightColumnSpacing + MenuWatchlistRowView::kDetailChartSlot.height();
            return kHairlineAbove + kHairlineHeight + 2 * kDetailPaddingY + std::max(left, right);
        }();
        return kHeight;
    }
};

inline const RowFonts& fonts()
{
    static const RowFonts kFonts;
    return kFonts;
}

} // namespace WatchlistRowMetrics
