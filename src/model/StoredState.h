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
    QList<PriceAlert> priceAlerts = {};

    // One pinned "BTC" entry with a fresh id, and the default preferences.
    static StoredState makeDefault();

    // Compact UTF-8 JSON, "watchlist" before "preferences", then "priceAlerts" when there are
    // alerts or the switch is off; nothing when a number is not finite.
    std::optional<QByteArray> encode() const;
    // Both members are required; entries strictly, preferences member by member. "priceAlerts" is
    // optional and never fails the document: its alerts are read one by one, and those that are
    // corrupt or whose token is not watched are dropped.
    static Result<StoredState> decode(const QByteArray& bytes);
};
