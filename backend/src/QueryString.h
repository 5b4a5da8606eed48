#pragma once

#include <QByteArrayView>
#include <QList>
#include <QString>

#include <optional>

// Strict reading of a URL query (name=value pairs joined by "&", form-encoded: "+" is a space).
// Bad percent-escapes and bytes that do not decode as UTF-8 are refused rather than guessed at.
namespace QueryString {

struct Parameter {
    QString name;
    QString value;
};

std::optional<QList<Parameter>> parse(QByteArrayView query, QString* problem);

// Well-formed UTF-8 only: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(QByteArrayView bytes);

} // namespace QueryString
