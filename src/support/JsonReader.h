#pragma once

#include "support/Error.h"
#include "support/Result.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

// Strict typed reading of one JSON object. The first problem is kept as a decoding Error and
// every later read returns a harmless default, so a decoder reads all members in a row and
// checks ok() once at the end.
//
// Required members must be present and not null; optional members may be missing or null.
// Numbers must be JSON numbers (never strings) and finite; integers must be integral and fit
// in 64 bits.
class JsonReader {
public:
    JsonReader(const QJsonObject& object, QString path);

    QString string(const QString& key);
    std::optional<QString> optionalString(const QString& key);
    double number(const QString& key);
    std::optional<double> optionalNumber(const QString& key);
    qint64 integer(const QString& key);
    std::optional<qint64> optionalInteger(const QString& key);
    bool boolean(const QString& key);
    std::optional<bool> optionalBoolean(const QString& key);
    QList<double> numberArray(const QString& key);
    std::optional<QList<double>> optionalNumberArray(const QString& key);
    QJsonArray array(const QString& key);
    QJsonObject object(const QString& key);

    // Records a problem found by the caller (for example an invalid URL).
    void fail(const QString& key, const QString& problem);
    // Takes over the first problem of a nested reader.
    void absorb(const JsonReader& nested);

    bool ok() const { return !m_error.has_value(); }
    const Error& error() const { return *m_error; }
    QString memberPath(const QString& key) const;

    static Error decodingError(const QString& reason);

private:
    // One lookup per read: the member when present and not null, recording a missing required one.
    std::optional<QJsonValue> present(const QString& key, bool required);
    std::optional<QString> stringValue(const QString& key, const QJsonValue& value);
    std::optional<double> numberValue(const QString& key, const QJsonValue& value);
    std::optional<qint64> integerValue(const QString& key, const QJsonValue& value);
    std::optional<bool> booleanValue(const QString& key, const QJsonValue& value);
    std::optional<QList<double>> numberArrayValue(const QString& key, const QJsonValue& value);

    QJsonObject m_object;
    QString m_path;
    std::optional<Error> m_error;
};

// Parses bytes that must hold one JSON object.
Result<QJsonObject> parseJsonObject(const QByteArray& bytes);

// Reads a JSON number that must be finite.
std::optional<double> finiteNumber(const QJsonValue& value);
