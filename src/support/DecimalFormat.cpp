#include "support/DecimalFormat.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>
#include <string_view>

namespace {

// Adds one unit in the last place of a string of decimal digits; returns false on overflow
// ("999" becomes "000").
bool incrementDigits(std::string& digits)
{
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
        if (*it == '9') {
            *it = '0';
        } else {
            ++*it;
            return true;
        }
    }
    return false;
}

} // namespace

namespace DecimalFormat {

QString shortest(double value)
{
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return QString::fromLatin1(buffer, result.ptr - buffer);
}

QString fixedHalfEven(double value, int fractionDigits, const QLocale& locale)
{
    if (!std::isfinite(value)) {
        return {};
    }
    // Shortest round-trip digits d1d2d3... and the power of ten of d1.
    char buffer[40];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value), std::chars_format::scientific);
    char digitBuffer[24];
    int digitCount = 0;
    const char* p = buffer;
    for (; p < result.ptr && *p != 'e'; ++p) {
        if (*p != '.') {
            digitBuffer[digitCount++] = *p;
        }
    }
    int exponent = 0;
    std::from_chars(p + (p[1] == '+' ? 2 : 1), result.ptr, exponent);
    const std::string_view digits(digitBuffer, static_cast<size_t>(digitCount));

    // Integer digits and fraction digits of the exact shortest decimal.
    std::string integerPart;
    std::string fractionPart;
    const int integerDigits = exponent + 1;
    if (integerDigits <= 0) {
        integerPart = "0";
        fractionPart.assign(static_cast<size_t>(-integerDigits), '0');
        fractionPart += digits;
    } else if (integerDigits >= digitCount) {
        integerPart = digits;
        integerPart.append(static_cast<size_t>(integerDigits - digitCount), '0');
    } else {
        integerPart = digits.substr(0, static_cast<size_t>(integerDigits));
        fractionPart = digits.substr(static_cast<size_t>(integerDigits));
    }

    const auto keep = static_cast<size_t>(fractionDigits);
    if (fractionPart.size() > keep) {
        const char first = fractionPart[keep];
        const bool restNonZero = fractionPart.find_first_not_of('0', keep + 1) != std::string::npos;
        fractionPart.resize(keep);
        const char lastKept = keep > 0 ? fractionPart.back() : integerPart.back();
        const bool roundUp = first > '5' || (first == '5' && (restNonZero || (lastKept - '0') % 2 == 1));
        if (roundUp) {
            std::string all = integerPart + fractionPart;
            if (!incrementDigits(all)) {
                all.insert(all.begin(), '1');
            }
            integerPart = all.substr(0, all.size() - keep);
            fractionPart = all.substr(all.size() - keep);
        }
    } else {
        fractionPart.append(keep - fractionPart.size(), '0');
    }

    const size_t significant = integerPart.size() - integerPart.find_first_not_of('0') + fractionPart.size();
    if (integerPart == "0" || significant <= 15) {
        // Up to 15 significant digits survive a trip through a double, so the locale may
        // write the final digits from one.
        const std::string decimal = integerPart + '.' + fractionPart;
        double rounded = 0;
        std::from_chars(decimal.data(), decimal.data() + decimal.size(), rounded);
        return locale.toString(value < 0 ? -rounded : rounded, 'f', fractionDigits);
    }
    // Beyond double precision: group the exact digits ourselves in threes.
    QString grouped;
    grouped.reserve(static_cast<qsizetype>(integerPart.size() * 2 + keep + 2));
    for (size_t i = 0; i < integerPart.size(); ++i) {
        if (i > 0 && (integerPart.size() - i) % 3 == 0) {
            grouped += locale.groupSeparator();
        }
        grouped += QLatin1Char(integerPart[i]);
    }
    if (keep > 0) {
        grouped += locale.decimalPoint() + QString::fromLatin1(fractionPart);
    }
    return value < 0 ? locale.negativeSign() + grouped : grouped;
}

QString significantHalfEven(double value, int digits, const QLocale& locale)
{
    if (!std::isfinite(value) || value == 0 || digits < 1) {
        return fixedHalfEven(value, std::max(digits, 0), locale);
    }
    // The power of ten of the leading digit, from the shortest form ("8.712e-06" gives -6), so
    // that no binary rounding of a logarithm moves it.
    char buffer[40];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value), std::chars_format::scientific);
    const char* e = std::find(buffer, result.ptr, 'e');
    int exponent = 0;
    std::from_chars(e + (e[1] == '+' ? 2 : 1), result.ptr, exponent);
    int fractionDigits = std::max(0, digits - 1 - exponent);
    // 0.0099996 rounds to 0.010000: one digit more than asked for, so take one fraction digit off.
    int shown = 0;
    for (const QChar c : fixedHalfEven(std::fabs(value), fractionDigits, QLocale::c())) {
        if (c.isDigit() && (shown > 0 || c != QLatin1Char('0'))) {
            ++shown;
        }
    }
    if (fractionDigits > 0 && shown > digits) {
        --fractionDigits;
    }
    return fixedHalfEven(value, fractionDigits, locale);
}

QString cFixed2(double value)
{
    // Rounds the exact binary value, ties to even, as printf's "%.2f" does (QString::number
    // rounds its own shortest form and gives 0.125 as "0.13"); unlike printf, never the decimal
    // comma of the process's C locale, which the application sets from the environment.
    if (std::isnan(value)) {
        return QStringLiteral("nan");
    }
    char buffer[400];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 2);
    return QString::fromLatin1(buffer, result.ptr - buffer);
}

} // namespace DecimalFormat
