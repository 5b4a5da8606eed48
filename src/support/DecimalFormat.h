#pragma once

#include <QLocale>
#include <QString>

// Number texts shared by the status item and the views.
namespace DecimalFormat {

// The shortest decimal text that reads back as the same double ("0.30000000000000004", "1e+21").
QString shortest(double value);

// Rounds to exactly `fractionDigits` digits, ties to even on the shortest decimal form of the
// value (so 2.675 gives 2.68 and 0.125 gives 0.12, which binary rounding gets wrong), then
// writes the result with the locale's decimal separator and digit grouping. Non-finite values
// give an empty string.
QString fixedHalfEven(double value, int fractionDigits, const QLocale& locale = QLocale());

// Rounds to `digits` significant digits in the same way (0.000008712 with 4 gives
// "0.000008712", 0.00001 gives "0.00001000"); a value that rounds up to the next power of ten
// keeps `digits` digits ("0.01000"). For non-zero finite values; others give fixedHalfEven's
// text with `digits` fraction digits.
QString significantHalfEven(double value, int digits, const QLocale& locale = QLocale());

// "%.2f" as the C library writes it in the C locale: the exact binary value rounded to two
// digits (0.125 gives 0.12, 1.625 gives 1.62), always a point, no grouping.
QString cFixed2(double value);

} // namespace DecimalFormat
