#include "QueryString.h"

#include <QStringDecoder>

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::optional<QString> decode(QByteArrayView text, QString* problem)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            bytes.append(' ');
        } else if (c == '%') {
            if (i + 2 >= text.size() || hexValue(text[i + 1]) < 0 || hexValue(text[i + 2]) < 0) {
                *problem = QStringLiteral("malformed percent-escape in the query");
                return std::nullopt;
            }
            bytes.append(static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2])));
            i += 2;
        } else {
            bytes.append(c);
        }
    }
    if (!QueryString::isValidUtf8(bytes)) {
        *problem = QStringLiteral("the query does not decode as UTF-8");
        return std::nullopt;
    }
    // QString::fromUtf8 would drop a leading byte order mark: "%EF%BB%BFq" is not "q".
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    return QString(utf8.decode(bytes));
}

} // namespace

bool QueryString::isValidUtf8(QByteArrayView bytes)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const qsizetype size = bytes.size();
    qsizetype i = 0;
    while (i < size) {
        const unsigned char lead = p[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        int length = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xbf;
        if (lead >= 0xc2 && lead <= 0xdf) {
            length = 2;
        } else if (lead >= 0xe0 && lead <= 0xef) {
            length = 3;
            if (lead == 0xe0) {
                low = 0xa0; // overlong
            } else if (lead == 0xed) {
                high = 0x9f; // surrogates
            }
        } else if (lead >= 0xf0 && lead <= 0xf4) {
            length = 4;
            if (lead == 0xf0) {
                low = 0x90; // overlong
            } else if (lead == 0xf4) {
                high = 0x8f; // above U+10FFFF
            }
        } else {
            return false;
        }
        if (size - i < length || p[i + 1] < low || p[i + 1] > high) {
            return false;
        }
        for (int k = 2; k < length; ++k) {
            if (p[i + k] < 0x80 || p[i + k] > 0xbf) {
                return false;
            }
        }
        i += length;
    }
    return true;
}

std::optional<QList<QueryString::Parameter>> QueryString::parse(QByteArrayView query, QString* problem)
{
    QList<Parameter> parameters;
    qsizetype start = 0;
    while (start <= query.size()) {
        qsizetype end = query.indexOf('&', start);
        if (end < 0) {
            end = query.size();
        }
        const QByteArrayView piece = query.sliced(start, end - start);
        start = end + 1;
        if (piece.isEmpty()) {
            continue; // "a=1&&b=2" and a trailing "&" carry nothing
        }
        const qsizetype equals = piece.indexOf('=');
        const QByteArrayView name = equals < 0 ? piece : piece.first(equals);
        const QByteArrayView value = equals < 0 ? QByteArrayView() : piece.sliced(equals + 1);
        std::optional<QString> decodedName = decode(name, problem);
        std::optional<QString> decodedValue = decodedName ? decode(value, problem) : std::nullopt;
        if (!decodedValue) {
            return std::nullopt;
        }
        parameters.append({*std::move(decodedName), *std::move(decodedValue)});
    }
    return parameters;
}
