#pragma once

#include <QCoreApplication>
#include <QString>
#include <QStringView>

#include <array>
#include <optional>

// The tabs of the settings window, in the order of their segments.
enum class SettingsTab { general, about };

namespace SettingsTabs {

inline constexpr std::array<SettingsTab, 2> kAll{SettingsTab::general, SettingsTab::about};

// The tab's raw value: the untranslated segment title, which also names the tab in lookups.
inline const char* rawValue(SettingsTab tab)
{
    switch (tab) {
    case SettingsTab::general:
        return QT_TRANSLATE_NOOP("SettingsTab", "通用");
    case SettingsTab::about:
        return QT_TRANSLATE_NOOP("SettingsTab", "关于");
    }
    return "";
}

inline std::optional<SettingsTab> fromRawValue(QStringView text)
{
    for (const SettingsTab tab : kAll) {
        if (text == QString::fromUtf8(rawValue(tab)))
            return tab;
    }
    return std::nullopt;
}

// The segment title as shown.
inline QString title(SettingsTab tab)
{
    return QCoreApplication::translate("SettingsTab", rawValue(tab));
}

} // namespace SettingsTabs
