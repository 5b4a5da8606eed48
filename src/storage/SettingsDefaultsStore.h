#pragma once

#include "storage/DefaultsStore.h"

#include <QSettings>

#include <memory>

// DefaultsStore over QSettings: the user's own settings file, or a given file (tests).
// QSettings writes changes back on the next event-loop pass and on destruction, atomically.
class SettingsDefaultsStore final : public DefaultsStore {
public:
    // The per-user store of the application's organisation and name.
    SettingsDefaultsStore();
    // A settings file of our own, in INI format.
    explicit SettingsDefaultsStore(const QString& fileName);

    std::optional<QByteArray> data(const QString& key) const override;
    void set(const QByteArray& value, const QString& key) override;

    QSettings& settings() { return *m_settings; }

private:
    std::unique_ptr<QSettings> m_settings;
};
