#pragma once

#include <QByteArray>
#include <QList>
#include <QStringView>

// Hand-written JSON output for the hot path: answers are stitched together from fragments that
// were written once when the data arrived, which QJsonDocument cannot do.
namespace JsonText {

// A JSON string literal, quotes included; control characters and quotes escaped, the rest UTF-8.
void appendString(QByteArray& out, QStringView text);
// The shortest text that reads back as the same double. Only finite values are ever passed.
void appendNumber(QByteArray& out, double value);
void appendNumberArray(QByteArray& out, const QList<double>& values);

} // namespace JsonText
