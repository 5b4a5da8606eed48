#include "views/RowFigures.h"

#include "support/DecimalFormat.h"

#include <QLocale>

#include <algorithm>
#include <cmath>

namespace RowFigures {

namespace {

constexpr double kVolumeFactor = 112.0;
constexpr double kWobbleFraction = 0.008;
constexpr double kMinimumWobble = 0.001;
constexpr double kWobbleStep = 0.9;
constexpr double kWobbleBack = 0.6;

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

double volumeValue(const TokenSummary& token)
{
    quint64 scalars = 0;
    for (const char32_t scalar : token.symbol.toUcs4()) {
        scalars += scalar;
    }
    const double price = std::isnan(token.price) ? token.price : std::max(token.price, 1.0);
    return price * double(scalars) * kVolumeFactor;
}

QList<double> expandedTrendValues(const TokenSummary& token)
{
    const QList<double>& trend = token.trend7d;
    if (trend.size() < 2) {
        return {token.price};
    }
    const double scaled = token.price * kWobbleFraction;
    const double amplitude = scaled > kMinimumWobble ? scaled : kMinimumWobble;
    QList<double> values;
    values.reserve(2 * trend.size() - 1);
    for (qsizetype i = 0; i < trend.size(); ++i) {
        const double v = trend.at(i);
        const double w = std::sin(double(i) * kWobbleStep) * amplitude;
        if (i > 0) {
            values.append(v - kWobbleBack * w);
        }
        values.append(v + w);
    }
    return values;
}

double changeAmount(const TokenSummary& token)
{
    return token.price * (token.change24h / 100.0);
}

QString signedChangeAmountText(const TokenSummary& token)
{
    const double change = changeAmount(token);
    const QString text = amount(change);
    return change < 0 ? text : QLatin1Char('+') + text;
}

double high24h(const TokenSummary& token)
{
    return token.price * (1 + 0.35 * std::abs(token.change24h) / 100 + 0.012);
}

double low24h(const TokenSummary& token)
{
    const double estimate = token.price * (1 - 0.28 * std::abs(token.change24h) / 100 - 0.01);
    return estimate > kLowFloor ? estimate : kLowFloor;
}

QString amount(double value)
{
    const QString text = DecimalFormat::fixedHalfEven(value, value >= 1 ? 2 : 4, QLocale());
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
