#pragma once

#include "model/AppPreferences.h"
#include "model/PriceAlert.h"
#include "model/WatchlistEntry.h"
#include "support/Result.h"

#include <QByteArray>
#include <QList>

// Everything remembered between runs: one JSON document.
struct StoredState {
    QList<WatchlistEntry> watchlist;
    AppPreferences preferences;
    // The optional "priceAlerts" member: the master switch and the alerts.
    bool priceAlertsEnabled = true;
    QList<PriceAlert> priceAlerts;

    // One pinned "BTC" entry with a fresh id, and the default preferences.
    static StoredState makeDefault();

    // Compact UTF-8 JSON, "watchlist" before "preferences"; nothing when a number is not finite.
    std::optional<QByteArray> encode() const;
    // Both members are required; entries strictly, preferences member by member.
    static Result<StoredState> decode(const QByteArray& bytes);
};
