#pragma once

#include "model/TokenSummary.h"

#include <QList>
#include <QString>

#include <optional>

// The figures a watchlist row's detail panel shows besides the price and change texts. Pure
// functions of the token (and of the current QLocale for the texts), recomputed on every paint.
// Every figure comes from the market: one the record lacks reads kMissing, never an estimate.
namespace RowFigures {

inline const QString kMissing = QStringLiteral("--");

// Up means a change of 0 or more; a change that is not a number counts as down.
bool isUp(double change24h);

// The large chart's samples: the finer seven-day series when there is one, else the trend
// itself (which may hold fewer than two values, and then draws no line).
const QList<double>& detailTrendValues(const TokenSummary& token);

// The 24-hour change in USDT: the exchange's own figure when the record has it, else the one
// the price and percentage imply, price − price / (1 + change / 100). Absent without a price.
std::optional<double> changeAmount(const TokenSummary& token);
// "+" before a value that is not negative, the formatter's own minus sign otherwise; kMissing
// when absent.
QString signedChangeAmountText(const TokenSummary& token);

// The four figures of the detail panel, in their order: change amount, high, low, quote volume.
struct Metric {
    QString title;
    QString value;
};
QList<Metric> metrics(const TokenSummary& token);

// Grouped decimal with exactly 2 fraction digits from 1 upwards, 4 below 1 (so every negative
// value gets 4), four significant digits for a value below a cent in size (but not 0); "%.2f"
// when the value is not finite.
QString amount(double value);

// 2.5K, 12.3M, 1.2B (at most one fraction digit); below 1,000 the same as amount().
QString compactAmount(double value);

} // namespace RowFigures
