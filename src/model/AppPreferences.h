#pragma once

#include "support/Result.h"

#include <QJsonObject>

#include <optional>

// The user's settings. Every member is optional when read: missing or null takes the default.
struct AppPreferences {
    double refreshInterval = 30; // seconds
    bool showsTrendInList = true;
    bool launchesAtLogin = false;
    bool usesLiveMenuBarUpdates = true;
    bool showsMenuBarSymbol = true;
    bool showsMenuBarChange = true;
    bool showsLayoutDebugOutlines = false;

    // Field by field; no operator== on purpose, as the record has no identity of its own.
    bool sameAs(const AppPreferences& other) const;

    // Nothing when refreshInterval is not finite.
    std::optional<QJsonObject> toJson() const;
    static Result<AppPreferences> fromJson(const QJsonObject& object);
};
