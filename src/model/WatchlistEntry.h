#pragma once

#include "support/Result.h"

#include <QJsonObject>
#include <QString>

// One line of the user's watchlist, pointing at a token by id.
struct WatchlistEntry {
    QString id; // the entry's own UUID, upper-case canonical text
    QString tokenID;
    bool isPinnedToMenuBar = false;
    bool showsTrend = true;
    qint64 displayOrder = 0;

    friend bool operator==(const WatchlistEntry&, const WatchlistEntry&) = default;

    // A new random entry id: 36 characters, upper-case hexadecimal, hyphens after 8, 12, 16, 20.
    static QString makeID();

    QJsonObject toJson() const;
    // All five members are required.
    static Result<WatchlistEntry> fromJson(const QJsonObject& object);
};

size_t qHash(const WatchlistEntry& entry, size_t seed = 0);
