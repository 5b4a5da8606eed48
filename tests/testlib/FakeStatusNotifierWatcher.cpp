#include "testlib/FakeStatusNotifierWatcher.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnectionInterface>
#include <QDBusContext>

namespace {
const QString kService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kPath = QStringLiteral("/StatusNotifierWatcher");
} // namespace

class FakeWatcherAdaptor : public QDBusAbstractAdaptor, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)

public:
    explicit FakeWatcherAdaptor(FakeStatusNotifierWatcher* watcher)
        : QDBusAbstractAdaptor(watcher)
        , m_watcher(watcher)
    {
    }
    QStringList items() const { return m_watcher->items(); }
    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }

public Q_SLOTS:
    void RegisterStatusNotifierItem(const QString& service)
    {
        if (m_watcher->refusesItems()) {
            sendErrorReply(QDBusError::AccessDenied, QStringLiteral("not taking items"));
            return;
        }
        m_watcher->registerItem(service);
    }
    void RegisterStatusNotifierHost(const QString&) {}

Q_SIGNALS:
    void StatusNotifierItemRegistered(const QString& service);
    void StatusNotifierItemUnregistered(const QString& service);
    void StatusNotifierHostRegistered();

private:
    FakeStatusNotifierWatcher* m_watcher;
};

FakeStatusNotifierWatcher::FakeStatusNotifierWatcher(QDBusConnection bus)
    : m_bus(std::move(bus))
{
    new FakeWatcherAdaptor(this);
}

FakeStatusNotifierWatcher::~FakeStatusNotifierWatcher()
{
    stop();
}

bool FakeStatusNotifierWatcher::start()
{
    m_running = m_bus.registerObject(kPath, this, QDBusConnection::ExportAdaptors) && m_bus.registerService(kService);
    return m_running;
}

void FakeStatusNotifierWatcher::stop()
{
    if (!m_running) {
        return;
    }
    m_bus.unregisterService(kService);
    m_bus.unregisterObject(kPath);
    m_items.clear();
    m_running = false;
}

void FakeStatusNotifierWatcher::registerItem(const QString& service)
{
    ++m_registrations;
    if (!m_items.contains(service)) {
        m_items.append(service);
    }
}

void FakeStatusNotifierWatcher::dropItem(const QString& service)
{
    m_items.removeAll(service);
    Q_EMIT findChild<FakeWatcherAdaptor*>()->StatusNotifierItemUnregistered(service);
}

#include "FakeStatusNotifierWatcher.moc"
