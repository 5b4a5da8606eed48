#include "support/JsonReader.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonParseError>

#include <cmath>

namespace {

QString typeName(const QJsonValue& value)
{
    switch (value.type()) {
    case QJsonValue::Null:
        return QStringLiteral("null");
    case QJsonValue::Bool:
        return QStringLiteral("a boolean");
    case QJsonValue::Double:
        return QStringLiteral("a number");
    case QJsonValue::String:
        return QStringLiteral("a string");
    case QJsonValue::Array:
        return QStringLiteral("an array");
    case QJsonValue::Object:
        return QStringLiteral("an object");
    case QJsonValue::Undefined:
        break;
    }
    return QStringLiteral("nothing");
}

QString translated(const char* text)
{
    return QCoreApplication::translate("JsonReader", text);
}

} // namespace

std::optional<double> finiteNumber(const QJsonValue& value)
{
    if (!value.isDouble()) {
        return std::nullopt;
    }
    const double number = value.toDouble();
    if (!std::isfinite(number)) {
        return std::nullopt;
    }
    return number;
}

JsonReader::JsonReader(const QJsonObject& object, QString path)
    : m_object(object)
    , m_path(std::move(path))
{
}

Error JsonReader::decodingError(const QString& reason)
{
    return Error(Error::Domain::Decoding, 0,
                 translated("The data couldn't be read because it isn't in the correct format."), reason);
}

QString JsonReader::memberPath(const QString& key) const
{
    return m_path.isEmpty() ? key : m_path + QLatin1Char('.') + key;
}

void JsonReader::fail(const QString& key, const QString& problem)
{
    if (!m_error) {
        m_error = decodingError(QStringLiteral("%1: %2").arg(memberPath(key), problem));
    }
}

void JsonReader::absorb(const JsonReader& nested)
{
    if (!m_error && nested.m_error) {
        m_error = nested.m_error;
    }
}

std::optional<QJsonValue> JsonReader::present(const QString& key, bool required)
{
    if (m_error) {
        return std::nullopt;
    }
    const auto it = m_object.constFind(key);
    if (it == m_object.constEnd() || it->isNull() || it->isUndefined()) {
        if (required) {
            fail(key, it == m_object.constEnd() ? translated("required member is missing")
                                                : translated("required member is null"));
        }
        return std::nullopt;
    }
    return *it;
}

std::optional<QString> JsonReader::stringValue(const QString& key, const QJsonValue& value)
{
    if (!value.isString()) {
        fail(key, translated("expected a string, found %1").arg(typeName(value)));
        return std::nullopt;
    }
    return value.toString();
}

std::optional<double> JsonReader::numberValue(const QString& key, const QJsonValue& value)
{
    const auto number = finiteNumber(value);
    if (!number) {
        fail(key, translated("expected a finite number, found %1").arg(typeName(value)));
    }
    return number;
}

std::optional<qint64> JsonReader::integerValue(const QString& key, const QJsonValue& value)
{
    const auto number = numberValue(key, value);
    if (!number) {
        return std::nullopt;
    }
    // 2^63 itself is out of range; every double below it in magnitude converts exactly.
    constexpr double limit = 9223372036854775808.0;
    if (std::trunc(*number) != *number || *number >= limit || *number < -limit) {
        fail(key, translated("expected a 64-bit integer, found %1").arg(*number));
        return std::nullopt;
    }
    // Integers beyond 2^53 are kept exactly by the parser; toInteger() reads them without rounding.
    return value.toInteger(static_cast<qint64>(*number));
}

std::optional<bool> JsonReader::booleanValue(const QString& key, const QJsonValue& value)
{
    if (!value.isBool()) {
        fail(key, translated("expected a boolean, found %1").arg(typeName(value)));
        return std::nullopt;
    }
    return value.toBool();
}

std::optional<QString> JsonReader::optionalString(const QString& key)
{
    const auto value = present(key, false);
    return value ? stringValue(key, *value) : std::nullopt;
}

QString JsonReader::string(const QString& key)
{
    const auto value = present(key, true);
    return value ? stringValue(key, *value).value_or(QString()) : QString();
}

std::optional<double> JsonReader::optionalNumber(const QString& key)
{
    const auto value = present(key, false);
    return value ? numberValue(key, *value) : std::nullopt;
}

double JsonReader::number(const QString& key)
{
    const auto value = present(key, true);
    return value ? numberValue(key, *value).value_or(0) : 0;
}

std::optional<qint64> JsonReader::optionalInteger(const QString& key)
{
    const auto value = present(key, false);
    return value ? integerValue(key, *value) : std::nullopt;
}

qint64 JsonReader::integer(const QString& key)
{
    const auto value = present(key, true);
    return value ? integerValue(key, *value).value_or(0) : 0;
}

std::optional<bool> JsonReader::optionalBoolean(const QString& key)
{
    const auto value = present(key, false);
    return value ? booleanValue(key, *value) : std::nullopt;
}

bool JsonReader::boolean(const QString& key)
{
    const auto value = present(key, true);
    return value ? booleanValue(key, *value).value_or(false) : false;
}

QJsonArray JsonReader::array(const QString& key)
{
    const auto value = present(key, true);
    if (!value) {
        return {};
    }
    if (!value->isArray()) {
        fail(key, translated("expected an array, found %1").arg(typeName(*value)));
        return {};
    }
    return value->toArray();
}

QJsonObject JsonReader::object(const QString& key)
{
    const auto value = present(key, true);
    if (!value) {
        return {};
    }
    if (!value->isObject()) {
        fail(key, translated("expected an object, found %1").arg(typeName(*value)));
        return {};
    }
    return value->toObject();
}

QList<double> JsonReader::numberArray(const QString& key)
{
    const auto value = present(key, true);
    return value ? numberArrayValue(key, *value).value_or(QList<double>()) : QList<double>();
}

std::optional<QList<double>> JsonReader::optionalNumberArray(const QString& key)
{
    const auto value = present(key, false);
    return value ? numberArrayValue(key, *value) : std::nullopt;
}

std::optional<QList<double>> JsonReader::numberArrayValue(const QString& key, const QJsonValue& value)
{
    if (!value.isArray()) {
        fail(key, translated("expected an array, found %1").arg(typeName(value)));
        return std::nullopt;
    }
    const QJsonArray values = value.toArray();
    QList<double> numbers;
    numbers.reserve(values.size());
    for (qsizetype i = 0; i < values.size() && ok(); ++i) {
        const auto number = finiteNumber(values.at(i));
        if (!number) {
            fail(QStringLiteral("%1[%2]").arg(key).arg(i),
                 translated("expected a finite number, found %1").arg(typeName(values.at(i))));
            return std::nullopt;
        }
        numbers.append(*number);
    }
    return numbers;
}

Result<QJsonObject> parseJsonObject(const QByteArray& bytes)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        return JsonReader::decodingError(
            translated("Invalid JSON at offset %1: %2").arg(parseError.offset).arg(parseError.errorString()));
    }
    if (!document.isObject()) {
        return JsonReader::decodingError(translated("The top-level value is not an object."));
    }
    return document.object();
}
