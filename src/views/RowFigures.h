#pragma once

#include "model/TokenSummary.h"

#include <QList>
#include <QString>

// The figures a watchlist row derives from its token for the detail panel. Pure functions of
// the token (and of the current QLocale for the texts), recomputed on every paint.
namespace RowFigures {

// Up means a change of 0 or more; a change that is not a number counts as down.
bool isUp(double change24h);

// max(price, 1) × (sum of the symbol's Unicode scalar values) × 112. The sum is 64-bit, so no
// symbol is long enough to overflow it.
double volumeValue(const TokenSummary& token);

// The trend with a small wobble between the samples, 2n − 1 values for n; [price] for n < 2.
QList<double> expandedTrendValues(const TokenSummary& token);

// price × change24h / 100, and its text: "+" before a value that is not negative, the
// formatter's own minus sign otherwise.
double changeAmount(const TokenSummary& token);
QString signedChangeAmountText(const TokenSummary& token);

double high24h(const TokenSummary& token);
// Never below kLowFloor.
double low24h(const TokenSummary& token);
inline constexpr double kLowFloor = 0.0001;

// Grouped decimal with exactly 2 fraction digits from 1 upwards, 4 below 1 (so every negative
// value gets 4); "%.2f" when the value is not finite.
QString amount(double value);

// 2.5K, 12.3M, 1.2B (at most one fraction digit); below 1,000 the same as amount().
QString compactAmount(double value);

} // namespace RowFigures
