#include "ui/popover/RowFigures.h"

#include "state/AppState.h"
#include "support/DecimalFormat.h"

#include <QCoreApplication>
#include <QLocale>

#include <algorithm>
#include <cmath>

namespace RowFigures {

namespace {

struct CompactUnit {
    double size;
    char suffix;
};
constexpr CompactUnit kCompactUnits[]{{1e9, 'B'}, {1e6, 'M'}, {1e3, 'K'}};

// At most one fraction digit: "2.5", "24.3", "3" (a trailing zero digit is dropped with its point).
QString upToOneFractionDigit(double value)
{
    const QLocale locale;
    QString text = DecimalFormat::fixedHalfEven(value, 1, locale);
    if (text.isEmpty()) {
        return DecimalFormat::shortest(value);
    }
    const QString zeroFraction = locale.decimalPoint() + locale.zeroDigit();
    if (text.endsWith(zeroFraction)) {
        text.chop(zeroFraction.size());
    }
    return text;
}

} // namespace

bool isUp(double change24h)
{
    return change24h >= 0;
}

const QList<double>& detailTrendValues(const TokenSummary& token)
{
    return token.trend7dFine.size() >= 2 ? token.trend7dFine : token.trend7d;
}

std::optional<double> changeAmount(const TokenSummary& token)
{
    if (token.priceChange24h) {
        return token.priceChange24h;
    }
    // No price, no amount; a change of -100 % would leave nothing to divide by.
    const double before = 1 + token.change24h / 100.0;
    if (!(token.price > 0) || !(before > 0) || !std::isfinite(token.price)) {
        return std::nullopt;
    }
    return token.price - token.price / before;
}

QString signedChangeAmountText(const TokenSummary& token)
{
    const std::optional<double> change = changeAmount(token);
    if (!change) {
        return kMissing;
    }
    const QString text = amount(*change);
    return *change < 0 ? text : QLatin1Char('+') + text;
}

QList<Metric> metrics(const TokenSummary& token)
{
    const auto shown = [](const std::optional<double>& value, QString (*format)(double)) {
        return value ? format(*value) : kMissing;
    };
    return {
        {QCoreApplication::translate("MenuWatchlistRowView", "24h 涨跌额"), signedChangeAmountText(token)},
        {QCoreApplication::translate("MenuWatchlistRowView", "24h 最高"), shown(token.high24h, amount)},
        {QCoreApplication::translate("MenuWatchlistRowView", "24h 最低"), shown(token.low24h, amount)},
        {QCoreApplication::translate("MenuWatchlistRowView", "成交量"), shown(token.quoteVolume24h, compactAmount)},
    };
}

QString amount(double value)
{
    const QString text = value != 0 && std::abs(value) < AppState::kSubCentPrice
                             ? DecimalFormat::significantHalfEven(value, AppState::kSubCentDigits, QLocale())
                             : DecimalFormat::fixedHalfEven(value, value >= 1 ? 2 : 4, QLocale());
    return text.isEmpty() ? DecimalFormat::cFixed2(value) : text;
}

QString compactAmount(double value)
{
    for (const CompactUnit& unit : kCompactUnits) {
        if (value >= unit.size) {
            return upToOneFractionDigit(value / unit.size) + QLatin1Char(unit.suffix);
        }
    }
    return amount(value);
}

} // namespace RowFigures
