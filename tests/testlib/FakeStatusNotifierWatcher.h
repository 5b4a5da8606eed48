#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QStringList>

// A StatusNotifierWatcher on the test's session bus: records which items register.
class FakeStatusNotifierWatcher : public QObject {
    Q_OBJECT

public:
    explicit FakeStatusNotifierWatcher(QDBusConnection bus = QDBusConnection::sessionBus());
    ~FakeStatusNotifierWatcher() override;

    // Takes the watcher's well-known name; false when another watcher has it.
    bool start();
    void stop();

    QStringList items() const { return m_items; }
    int registrations() const { return m_registrations; }

    void registerItem(const QString& service);

    // Forgets an accepted item and says so, as a host that gives up on an item does.
    void dropItem(const QString& service);
    // Answers registrations with an error from now on.
    void setRefusesItems(bool refuses) { m_refusesItems = refuses; }
    bool refusesItems() const { return m_refusesItems; }

private:
    QDBusConnection m_bus;
    QStringList m_items;
    int m_registrations = 0;
    bool m_running = false;
    bool m_refusesItems = false;
};
