#include "shell/SystemWakeWatcher.h"

#include "state/AppState.h"

SystemWakeWatcher::SystemWakeWatcher(AppState& appState, QDBusConnection systemBus, QObject* parent)
    : QObject(parent)
    , m_appState(&appState)
{
    if (systemBus.isConnected()) {
        systemBus.connect(QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
                          QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"), this,
                          SLOT(onPrepareForSleep(bool)));
    }
    // The network's return matters only once a refresh has failed; until then no backend is
    // loaded (GLib's starts a thread of its own).
    connect(&appState, &AppState::objectWillChange, this, &SystemWakeWatcher::watchNetworkAfterFailure,
            Qt::QueuedConnection);
}

void SystemWakeWatcher::watchNetworkAfterFailure()
{
    if (m_watchingNetwork || !m_appState || m_appState->consecutivePeriodicFailures() == 0) {
        return;
    }
    m_watchingNetwork = true;
    // NetworkManager's backend speaks D-Bus on the bus we already hold; GLib's is the fallback.
    if (!QNetworkInformation::loadBackendByName(QStringLiteral("networkmanager")) &&
        !QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability)) {
        return;
    }
    QNetworkInformation* information = QNetworkInformation::instance();
    m_reachability = information->reachability();
    connect(information, &QNetworkInformation::reachabilityChanged, this, &SystemWakeWatcher::handleReachability);
}

void SystemWakeWatcher::onPrepareForSleep(bool sleeping)
{
    handlePrepareForSleep(sleeping);
}

void SystemWakeWatcher::handlePrepareForSleep(bool sleeping)
{
    if (!sleeping && m_appState)
        m_appState->refreshAfterWake();
}

void SystemWakeWatcher::handleReachability(QNetworkInformation::Reachability reachability)
{
    using Reachability = QNetworkInformation::Reachability;
    const Reachability before = m_reachability;
    m_reachability = reachability;
    if (reachability == Reachability::Online && before != Reachability::Online && before != Reachability::Unknown &&
        m_appState)
        m_appState->refreshAfterWake();
}
