#include "JsonText.h"

#include <QString>

#include <array>
#include <charconv>
#include <cmath>

void JsonText::appendString(QByteArray& out, QStringView text)
{
    static constexpr char kHex[] = "0123456789abcdef";
    const QByteArray utf8 = text.toUtf8();
    out.reserve(out.size() + utf8.size() + 2);
    out.append('"');
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out.append('\\').append(c);
        } else if (byte < 0x20) {
            out.append("\\u00").append(kHex[byte >> 4]).append(kHex[byte & 0xf]);
        } else {
            out.append(c);
        }
    }
    out.append('"');
}

void JsonText::appendNumber(QByteArray& out, double value)
{
    Q_ASSERT(std::isfinite(value));
    std::array<char, 32> buffer{};
    // Shortest round-trip form: 75456.36 stays 75456.36, never 75456.360000000001.
    const auto [end, error] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    Q_ASSERT(error == std::errc());
    out.append(buffer.data(), end - buffer.data());
}

void JsonText::appendNumberArray(QByteArray& out, const QList<double>& values)
{
    out.append('[');
    for (qsizetype i = 0; i < values.size(); ++i) {
        if (i > 0) {
            out.append(',');
        }
        appendNumber(out, values.at(i));
    }
    out.append(']');
}
