#pragma once

#include "support/Result.h"

#include <QJsonObject>
#include <QString>

#include <optional>

// One price alert the user set on a watched token. Stored with the watchlist; its armed or fired
// state is stored too, so a restart neither forgets an alert nor repeats one already told.
struct PriceAlert {
    enum class Kind {
        Above,        // the price rises to or past `threshold` (USDT)
        Below,        // the price falls to or past `threshold` (USDT)
        ChangeBeyond, // the 24-hour change reaches +threshold % or -threshold %
    };

    QString id; // upper-case UUID text, like a watchlist entry's
    QString tokenID;
    Kind kind = Kind::Above;
    double threshold = 0; // positive: USDT for Above and Below, percentage points for ChangeBeyond
    bool isEnabled = true;
    // Fired alerts wait until the figure has moved back past the threshold by a margin before
    // they can fire again.
    bool isFired = false;
    // Fired and not yet looked at: the row's bell is filled until its row is expanded.
    bool isUnseen = false;
    // The quote time (ms since the epoch) of the last quote this alert was evaluated against; a
    // quote no newer than this is never evaluated again.
    std::optional<qint64> evaluatedQuoteTime = std::nullopt;

    friend bool operator==(const PriceAlert&, const PriceAlert&) = default;

    QJsonObject toJson() const;
    // Strict: a member missing or of the wrong type, an unknown kind or a threshold that is not a
    // positive finite number is an error for this alert alone.
    static Result<PriceAlert> fromJson(const QJsonObject& object);
};
