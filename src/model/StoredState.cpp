#include "model/StoredState.h"

#include "support/JsonReader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>

#include <cmath>

namespace {

const QString kPriceAlertsKey = QStringLiteral("priceAlerts");

// The alerts member belongs to a later version than the watchlist and the preferences: whatever
// is wrong with it costs the alerts, never the document. A corrupt alert is dropped alone, and so
// is an alert whose token is no longer watched.
void readPriceAlerts(const QJsonObject& root, StoredState& state)
{
    const QJsonValue member = root.value(kPriceAlertsKey);
    if (!member.isObject()) {
        return;
    }
    const QJsonObject object = member.toObject();
    state.priceAlertsEnabled = object.value(QStringLiteral("enabled")).toBool(true);
    const QJsonArray alerts = object.value(QStringLiteral("alerts")).toArray();
    QSet<QString> watched;
    for (const WatchlistEntry& entry : state.watchlist) {
        watched.insert(entry.tokenID.toUpper());
    }
    for (const QJsonValue& value : alerts) {
        auto alert = PriceAlert::fromJson(value.toObject());
        if (alert && watched.contains(alert.value().tokenID.toUpper())) {
            PriceAlert kept = std::move(alert).value();
            kept.tokenID = kept.tokenID.toUpper();
            state.priceAlerts.append(std::move(kept));
        }
    }
}

} // namespace

StoredState StoredState::makeDefault()
{
    StoredState state;
    state.watchlist.append(WatchlistEntry{WatchlistEntry::makeID(), QStringLiteral("BTC"), true, true, 0});
    return state;
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
    // Only when there is something to say, so a document without alerts reads as it always did.
    if (!priceAlerts.isEmpty() || !priceAlertsEnabled) {
        QJsonArray alerts;
        for (const PriceAlert& alert : priceAlerts) {
            // None can be made or read, but an alert is never worth the whole document.
            if (std::isfinite(alert.threshold)) {
                alerts.append(alert.toJson());
            }
        }
        const QJsonObject member{{QStringLiteral("enabled"), priceAlertsEnabled}, {QStringLiteral("alerts"), alerts}};
        bytes += ",\"" + kPriceAlertsKey.toLatin1() + "\":";
        bytes += QJsonDocument(member).toJson(QJsonDocument::Compact);
    }
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
    readPriceAlerts(root.value(), state);
    return state;
}
