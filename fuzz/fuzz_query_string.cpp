// libFuzzer target for the query-string reader: any bytes after "?" in a request target.
// Beyond "no crash, no sanitizer report" it checks two properties:
//  - the UTF-8 check agrees with Qt's decoder: bytes pass exactly when they survive a round trip
//    through QString unchanged (Qt replaces every ill-formed sequence with U+FFFD; the decoder
//    is told to keep a leading byte order mark, as a plain fromUtf8 would drop it);
//  - nothing is lost or guessed: every accepted name and value is, in UTF-8, exactly the bytes
//    its escapes stand for (a dropped byte order mark shows up here).

#include "FuzzCheck.h"
#include "QueryString.h"

#include <QByteArray>
#include <QString>
#include <QStringDecoder>

#include <cctype>
#include <cstdint>
#include <optional>

namespace {

// The bytes a name or value stands for, or nothing for a bad escape. Written apart from the
// reader so the two can disagree.
std::optional<QByteArray> unescape(QByteArrayView text)
{
    QByteArray out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out.append(' ');
        } else if (text[i] != '%') {
            out.append(text[i]);
        } else if (i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
                   std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            out.append(static_cast<char>(text.sliced(i + 1, 2).toByteArray().toInt(nullptr, 16)));
            i += 2;
        } else {
            return std::nullopt;
        }
    }
    return out;
}

// The raw pieces of the query in order: name, value, name, value... (empty pieces skipped).
QList<QByteArrayView> rawPieces(QByteArrayView query)
{
    QList<QByteArrayView> pieces;
    qsizetype start = 0;
    while (start <= query.size()) {
        qsizetype end = query.indexOf('&', start);
        if (end < 0) {
            end = query.size();
        }
        const QByteArrayView piece = query.sliced(start, end - start);
        start = end + 1;
        if (piece.isEmpty()) {
            continue;
        }
        const qsizetype equals = piece.indexOf('=');
        pieces.append(equals < 0 ? piece : piece.first(equals));
        pieces.append(equals < 0 ? QByteArrayView() : piece.sliced(equals + 1));
    }
    return pieces;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    const bool valid = QueryString::isValidUtf8(bytes);
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    const bool roundTrips = QString(decoder.decode(bytes)).toUtf8() == bytes;
    if (valid != roundTrips) {
        fail(valid ? "accepted bytes Qt does not decode" : "refused bytes Qt decodes losslessly");
    }

    QString problem;
    const auto parameters = QueryString::parse(bytes, &problem);
    if (!parameters) {
        if (problem.isEmpty()) {
            fail("refused a query without saying why");
        }
        return 0;
    }

    const QList<QByteArrayView> pieces = rawPieces(bytes);
    if (pieces.size() != parameters->size() * 2) {
        fail("read a different number of parameters than the query holds");
    }
    for (qsizetype i = 0; i < parameters->size(); ++i) {
        const auto name = unescape(pieces.at(2 * i));
        const auto value = unescape(pieces.at(2 * i + 1));
        if (!name || !value) {
            fail("accepted a bad percent-escape");
        }
        if (parameters->at(i).name.toUtf8() != *name || parameters->at(i).value.toUtf8() != *value) {
            fail("a parameter reads different from the bytes it was sent as");
        }
    }

    return 0;
}
