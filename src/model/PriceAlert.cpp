#include "model/PriceAlert.h"

#include "support/JsonReader.h"

namespace {

const QString kKindKey = QStringLiteral("kind");
const QString kEvaluatedKey = QStringLiteral("evaluatedQuoteTime");

QString kindName(PriceAlert::Kind kind)
{
    switch (kind) {
    case PriceAlert::Kind::Above:
        return QStringLiteral("above");
    case PriceAlert::Kind::Below:
        return QStringLiteral("below");
    case PriceAlert::Kind::ChangeBeyond:
        return QStringLiteral("change");
    }
    return {};
}

std::optional<PriceAlert::Kind> kindNamed(const QString& name)
{
    for (const auto kind : {PriceAlert::Kind::Above, PriceAlert::Kind::Below, PriceAlert::Kind::ChangeBeyond}) {
        if (kindName(kind) == name) {
            return kind;
        }
    }
    return std::nullopt;
}

} // namespace

QJsonObject PriceAlert::toJson() const
{
    QJsonObject object{
        {QStringLiteral("id"), id},
        {QStringLiteral("tokenID"), tokenID},
        {kKindKey, kindName(kind)},
        {QStringLiteral("threshold"), threshold},
        {QStringLiteral("isEnabled"), isEnabled},
        {QStringLiteral("isFired"), isFired},
        {QStringLiteral("isUnseen"), isUnseen},
    };
    if (evaluatedQuoteTime) {
        object.insert(kEvaluatedKey, *evaluatedQuoteTime);
    }
    return object;
}

Result<PriceAlert> PriceAlert::fromJson(const QJsonObject& object)
{
    JsonReader reader(object, QStringLiteral("PriceAlert"));
    PriceAlert alert;
    alert.id = reader.string(QStringLiteral("id"));
    alert.tokenID = reader.string(QStringLiteral("tokenID"));
    const QString kind = reader.string(kKindKey);
    alert.threshold = reader.number(QStringLiteral("threshold"));
    alert.isEnabled = reader.boolean(QStringLiteral("isEnabled"));
    alert.isFired = reader.boolean(QStringLiteral("isFired"));
    alert.isUnseen = reader.boolean(QStringLiteral("isUnseen"));
    alert.evaluatedQuoteTime = reader.optionalInteger(kEvaluatedKey);
    if (reader.ok()) {
        if (const auto known = kindNamed(kind)) {
            alert.kind = *known;
        } else {
            reader.fail(kKindKey, QStringLiteral("unknown kind \"%1\"").arg(kind));
        }
    }
    // The reader already refuses non-finite numbers.
    if (reader.ok() && alert.threshold <= 0) {
        reader.fail(QStringLiteral("threshold"), QStringLiteral("expected a positive number"));
    }
    if (!reader.ok()) {
        return reader.error();
    }
    return alert;
}
