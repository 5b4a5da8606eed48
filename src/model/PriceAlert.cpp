#include "model/PriceAlert.h"

// Encoding and decoding come with the stored document's alerts member.
QJsonObject PriceAlert::toJson() const
{
    return {};
}

Result<PriceAlert> PriceAlert::fromJson(const QJsonObject& object)
{
    Q_UNUSED(object);
    return PriceAlert{};
}
