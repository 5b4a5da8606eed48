// libFuzzer target for the query-string reader: any bytes after "?" in a request target.
// Beyond "no crash, no sanitizer report" it checks two properties:
//  - the UTF-8 check agrees with Qt's decoder: bytes pass exactly when they survive a round trip
//    through QString unchanged (Qt replaces every ill-formed sequence with U+FFFD; the decoder
//    is told to keep a leading byte order mark, which QString::fromUtf8 drops);
//  - whatever is accepted comes back identical after being encoded again and re-read.

#include "QueryString.h"

#include <QByteArray>
#include <QString>
#include <QStringDecoder>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void fail(const char* what)
{
    std::fprintf(stderr, "fuzz_query_string: %s\n", what);
    std::abort();
}

QByteArray encode(const QString& text)
{
    QByteArray out;
    for (const char c : text.toUtf8()) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') ||
            byte == '-' || byte == '.' || byte == '_' || byte == '~' || byte == ',') {
            out.append(c);
        } else if (byte == ' ') {
            out.append('+');
        } else {
            out.append('%').append(QByteArray::number(byte, 16).rightJustified(2, '0').toUpper());
        }
    }
    return out;
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

    QByteArray again;
    for (const QueryString::Parameter& parameter : *parameters) {
        if (!again.isEmpty()) {
            again.append('&');
        }
        again.append(encode(parameter.name)).append('=').append(encode(parameter.value));
    }
    QString secondProblem;
    const auto reread = QueryString::parse(again, &secondProblem);
    if (!reread || reread->size() != parameters->size()) {
        fail("an encoded query did not read back");
    }
    for (qsizetype i = 0; i < parameters->size(); ++i) {
        if (reread->at(i).name != parameters->at(i).name || reread->at(i).value != parameters->at(i).value) {
            fail("an encoded parameter read back different");
        }
    }
    return 0;
}
