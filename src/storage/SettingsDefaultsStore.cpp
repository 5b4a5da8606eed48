#include "storage/SettingsDefaultsStore.h"

#include <condition_variable>
#include <mutex>
#include <thread>

class SettingsDefaultsStore::Writer {
public:
    Writer(QString fileName, QSettings::Format format)
        : m_thread([this, fileName = std::move(fileName), format] { run(fileName, format); })
    {
    }

    ~Writer()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }

    void enqueue(const QString& key, const QByteArray& value)
    {
        {
            const std::lock_guard lock(m_mutex);
            m_pending.insert(key, value);
            ++m_queued;
        }
        m_wake.notify_all();
    }

    void flush()
    {
        std::unique_lock lock(m_mutex);
        const quint64 target = m_queued;
        m_wake.wait(lock, [&] { return m_synced >= target; });
    }

private:
    void run(const QString& fileName, QSettings::Format format)
    {
        // QSettings objects are reentrant and share the file's cache, so this one and the
        // caller's may stand side by side; each belongs to its own thread.
        QSettings settings(fileName, format);
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_stopping || !m_pending.isEmpty(); });
            if (m_pending.isEmpty()) {
                return; // stopping, with everything written
            }
            const QHash<QString, QByteArray> batch = std::exchange(m_pending, {});
            const quint64 taken = m_queued;
            lock.unlock();
            for (auto it = batch.cbegin(); it != batch.cend(); ++it) {
                settings.setValue(it.key(), it.value());
            }
            // A failed write leaves the earlier file in place; there is nobody to tell.
            settings.sync();
            lock.lock();
            m_synced = taken;
            m_wake.notify_all();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    QHash<QString, QByteArray> m_pending;
    quint64 m_queued = 0;
    quint64 m_synced = 0;
    bool m_stopping = false;
    // Last, so that it starts after the members it uses exist.
    std::thread m_thread;
};

SettingsDefaultsStore::SettingsDefaultsStore()
    : m_settings(std::make_unique<QSettings>())
    , m_writer(std::make_unique<Writer>(m_settings->fileName(), m_settings->format()))
{
}

SettingsDefaultsStore::SettingsDefaultsStore(const QString& fileName)
    : m_settings(std::make_unique<QSettings>(fileName, QSettings::IniFormat))
    , m_writer(std::make_unique<Writer>(fileName, QSettings::IniFormat))
{
}

SettingsDefaultsStore::~SettingsDefaultsStore() = default;

std::optional<QByteArray> SettingsDefaultsStore::data(const QString& key) const
{
    const auto written = m_written.constFind(key);
    if (written != m_written.constEnd()) {
        return *written;
    }
    const QVariant value = m_settings->value(key);
    if (value.typeId() != QMetaType::QByteArray) {
        return std::nullopt;
    }
    return value.toByteArray();
}

void SettingsDefaultsStore::set(const QByteArray& value, const QString& key)
{
    m_written.insert(key, value);
    m_writer->enqueue(key, value);
}

void SettingsDefaultsStore::flush()
{
    m_writer->flush();
}
