#include "storage/SettingsDefaultsStore.h"

SettingsDefaultsStore::SettingsDefaultsStore()
    : m_settings(std::make_unique<QSettings>())
{
}

SettingsDefaultsStore::SettingsDefaultsStore(const QString& fileName)
    : m_settings(std::make_unique<QSettings>(fileName, QSettings::IniFormat))
{
}

std::optional<QByteArray> SettingsDefaultsStore::data(const QString& key) const
{
    const QVariant value = m_settings->value(key);
    if (value.typeId() != QMetaType::QByteArray) {
        return std::nullopt;
    }
    return value.toByteArray();
}

void SettingsDefaultsStore::set(const QByteArray& value, const QString& key)
{
    m_settings->setValue(key, value);
}
