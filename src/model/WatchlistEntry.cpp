#include "model/WatchlistEntry.h"

#include "support/JsonReader.h"

#include <QHashFunctions>
#include <QUuid>

QString WatchlistEntry::makeID()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

QJsonObject WatchlistEntry::toJson() const
{
    return QJsonObject{
        {QStringLiteral("id"), id},
        {QStringLiteral("tokenID"), tokenID},
        {QStringLiteral("isPinnedToMenuBar"), isPinnedToMenuBar},
        {QStringLiteral("showsTrend"), showsTrend},
        {QStringLiteral("displayOrder"), displayOrder},
    };
}

Result<WatchlistEntry> WatchlistEntry::fromJson(const QJsonObject& object)
{
    JsonReader reader(object, QStringLiteral("WatchlistEntry"));
    WatchlistEntry entry;
    entry.id = reader.string(QStringLiteral("id"));
    entry.tokenID = reader.string(QStringLiteral("tokenID"));
    entry.isPinnedToMenuBar = reader.boolean(QStringLiteral("isPinnedToMenuBar"));
    entry.showsTrend = reader.boolean(QStringLiteral("showsTrend"));
    entry.displayOrder = reader.integer(QStringLiteral("displayOrder"));
    if (!reader.ok()) {
        return reader.error();
    }
    return entry;
}

size_t qHash(const WatchlistEntry& entry, size_t seed)
{
    return qHashMulti(seed, entry.id, entry.tokenID, entry.isPinnedToMenuBar, entry.showsTrend, entry.displayOrder);
}
