#pragma once

#include "storage/DefaultsStore.h"

#include <QHash>
#include <QSettings>

#include <memory>

// DefaultsStore over QSettings: the user's own settings file, or a given file (tests).
// Values are read on the caller's thread; writes go to a thread of their own, because writing the
// file ends in a sync to disk that can take tens of milliseconds on a busy disk, and the caller is
// the GUI thread. Writes queued faster than the disk takes them are merged into one, the latest
// value winning; reads see a value as soon as it is set. Destruction waits for the last write.
class SettingsDefaultsStore final : public DefaultsStore {
public:
    // The per-user store of the application's organisation and name.
    SettingsDefaultsStore();
    // A settings file of our own, in INI format.
    explicit SettingsDefaultsStore(const QString& fileName);
    ~SettingsDefaultsStore() override;

    std::optional<QByteArray> data(const QString& key) const override;
    void set(const QByteArray& value, const QString& key) override;
    // Returns once every value set so far is in the file.
    void flush();

    // For reading (and, in tests, planting values) on the caller's thread.
    QSettings& settings() { return *m_settings; }

private:
    class Writer;

    std::unique_ptr<QSettings> m_settings;
    // What was set here, which the file may not hold yet.
    QHash<QString, QByteArray> m_written;
    std::unique_ptr<Writer> m_writer;
};
