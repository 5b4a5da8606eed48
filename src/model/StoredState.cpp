#include "model/StoredState.h"

#include "support/JsonReader.h"

#include <QJsonArray>
#include <QJsonDocument>

StoredState StoredState::makeDefault()
{
    return StoredState{{WatchlistEntry{WatchlistEntry::makeID(), QStringLiteral("BTC"), true, true, 0}}, {}};
}

std::optional<QByteArray> StoredState::encode() const
{
    const auto preferencesObject = preferences.toJson();
    if (!preferencesObject) {
        return std::nullopt;
    }
    // QJsonObject sorts its keys, which would put "preferences" first; the document is small
    // enough to join by hand.
    QJsonArray entries;
    for (const WatchlistEntry& entry : watchlist) {
        entries.append(entry.toJson());
    }
    QByteArray bytes = QByteArrayLiteral("{\"watchlist\":");
    bytes += QJsonDocument(entries).toJson(QJsonDocument::Compact);
    bytes += QByteArrayLiteral(",\"preferences\":");
    bytes += QJsonDocument(*preferencesObject).toJson(QJsonDocument::Compact);
    bytes += '}';
    return bytes;
}

Result<StoredState> StoredState::decode(const QByteArray& bytes)
{
    auto root = parseJsonObject(bytes);
    if (!root) {
        return root.error();
    }
    JsonReader reader(root.value(), QString());
    const QJsonArray entries = reader.array(QStringLiteral("watchlist"));
    const QJsonObject preferencesObject = reader.object(QStringLiteral("preferences"));
    if (!reader.ok()) {
        return reader.error();
    }
    StoredState state;
    state.watchlist.reserve(entries.size());
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (!entries.at(i).isObject()) {
            return JsonReader::decodingError(QStringLiteral("watchlist[%1]: expected an object").arg(i));
        }
        auto entry = WatchlistEntry::fromJson(entries.at(i).toObject());
        if (!entry) {
            return entry.error();
        }
        state.watchlist.append(std::move(entry).value());
    }
    auto preferences = AppPreferences::fromJson(preferencesObject);
    if (!preferences) {
        return preferences.error();
    }
    state.preferences = preferences.value();
    return state;
}
