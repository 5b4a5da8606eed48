#include "support/DecimalFormat.h"

#include <charconv>
#include <cmath>
#include <string>

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
    // Shortest round-trip digits and exponent: value = 0.d1d2d3... * 10^exponent.
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value), std::chars_format::scientific);
    const std::string text(buffer, result.ptr);
    const auto ePos = text.find('e');
    std::string digits;
    for (char c : text.substr(0, ePos)) {
        if (c != '.') {
            digits += c;
        }
    }
    const int exponent = std::stoi(text.substr(ePos + 1)) + 1;

    // Integer digits and fraction digits of the exact shortest decimal.
    std::string integerPart;
    std::string fractionPart;
    if (exponent <= 0) {
        integerPart = "0";
        fractionPart = std::string(static_cast<size_t>(-exponent), '0') + digits;
    } else if (static_cast<size_t>(exponent) >= digits.size()) {
        integerPart = digits + std::string(static_cast<size_t>(exponent) - digits.size(), '0');
    } else {
        integerPart = digits.substr(0, static_cast<size_t>(exponent));
        fractionPart = digits.substr(static_cast<size_t>(exponent));
    }

    const auto keep = static_cast<size_t>(fractionDigits);
    if (fractionPart.size() > keep) {
        const std::string dropped = fractionPart.substr(keep);
        fractionPart.resize(keep);
        const char first = dropped.front();
        const bool restNonZero = dropped.find_first_not_of('0', 1) != std::string::npos;
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

    // The locale supplies separators and grouping; the digits are already final, so the exact
    // decimal is written back through a double only when it reads back unchanged.
    const QString decimal = QString::fromLatin1(integerPart) + QLatin1Char('.') + QString::fromLatin1(fractionPart);
    const QString plain = keep > 0 ? decimal : QString::fromLatin1(integerPart);
    const double rounded = plain.toDouble();
    QString localized = locale.toString(value < 0 ? -rounded : rounded, 'f', fractionDigits);
    if (QLocale::c().toString(rounded, 'f', fractionDigits) == plain) {
        return localized;
    }
    // Beyond double precision: group the exact digits ourselves in threes.
    QString grouped;
    const QString integerText = QString::fromLatin1(integerPart);
    for (qsizetype i = 0; i < integerText.size(); ++i) {
        if (i > 0 && (integerText.size() - i) % 3 == 0) {
            grouped += locale.groupSeparator();
        }
        grouped += integerText.at(i);
    }
    if (keep > 0) {
        grouped += locale.decimalPoint() + QString::fromLatin1(fractionPart);
    }
    return value < 0 ? locale.negativeSign() + grouped : grouped;
}

QString cFixed2(double value)
{
    return QString::number(value, 'f', 2);
}

} // namespace DecimalFormat
