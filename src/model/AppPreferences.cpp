#include "model/AppPreferences.h"

#include "support/JsonReader.h"

#include <cmath>
#include <cstring>

bool AppPreferences::sameAs(const AppPreferences& other) const
{
    // Compared as stored bits so that a NaN interval equals itself.
    return std::memcmp(&refreshInterval, &other.refreshInterval, sizeof refreshInterval) == 0 &&
           showsTrendInList == other.showsTrendInList && launchesAtLogin == other.launchesAtLogin &&
           usesLiveMenuBarUpdates == other.usesLiveMenuBarUpdates && showsMenuBarSymbol == other.showsMenuBarSymbol &&
           showsMenuBarChange == other.showsMenuBarChange && showsLayoutDebugOutlines == other.showsLayoutDebugOutlines;
}

std::optional<QJsonObject> AppPreferences::toJson() const
{
    if (!std::isfinite(refreshInterval)) {
        return std::nullopt;
    }
    return QJsonObject{
        {QStringLiteral("refreshInterval"), refreshInterval},
        {QStringLiteral("showsTrendInList"), showsTrendInList},
        {QStringLiteral("launchesAtLogin"), launchesAtLogin},
        {QStringLiteral("usesLiveMenuBarUpdates"), usesLiveMenuBarUpdates},
        {QStringLiteral("showsMenuBarSymbol"), showsMenuBarSymbol},
        {QStringLiteral("showsMenuBarChange"), showsMenuBarChange},
        {QStringLiteral("showsLayoutDebugOutlines"), showsLayoutDebugOutlines},
    };
}

Result<AppPreferences> AppPreferences::fromJson(const QJsonObject& object)
{
    JsonReader reader(object, QStringLiteral("AppPreferences"));
    const AppPreferences defaults;
    AppPreferences preferences;
    preferences.refreshInterval =
        reader.optionalNumber(QStringLiteral("refreshInterval")).value_or(defaults.refreshInterval);
    const auto flag = [&reader](const char* key, bool fallback) {
        return reader.optionalBoolean(QString::fromLatin1(key)).value_or(fallback);
    };
    preferences.showsTrendInList = flag("showsTrendInList", defaults.showsTrendInList);
    preferences.launchesAtLogin = flag("launchesAtLogin", defaults.launchesAtLogin);
    preferences.usesLiveMenuBarUpdates = flag("usesLiveMenuBarUpdates", defaults.usesLiveMenuBarUpdates);
    preferences.showsMenuBarSymbol = flag("showsMenuBarSymbol", defaults.showsMenuBarSymbol);
    preferences.showsMenuBarChange = flag("showsMenuBarChange", defaults.showsMenuBarChange);
    preferences.showsLayoutDebugOutlines = flag("showsLayoutDebugOutlines", defaults.showsLayoutDebugOutlines);
    if (!reader.ok()) {
        return reader.error();
    }
    return preferences;
}
