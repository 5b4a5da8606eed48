#pragma once

#include <QDBusConnection>
#include <QNetworkInformation>
#include <QObject>
#include <QPointer>

class AppState;

// Tells AppState when its prices are likely stale: after the machine resumes from sleep
// (logind's PrepareForSleep(false) on the system bus) and when the network becomes reachable
// again. Timers stand still while the machine sleeps, so without this the first refresh after a
// resume could come a whole interval late. With no system bus, no logind or no network
// information backend, it simply never fires.
class SystemWakeWatcher : public QObject {
    Q_OBJECT

public:
    SystemWakeWatcher(AppState& appState, QDBusConnection systemBus, QObject* parent = nullptr);

    // logind's signal: true before the machine sleeps, false once it has resumed.
    void handlePrepareForSleep(bool sleeping);
    // Only a change to online after something else counts; the first report at start is not a
    // return of the network.
    void handleReachability(QNetworkInformation::Reachability reachability);

private Q_SLOTS:
    // QtDBus connects string-based signals to slots only.
    void onPrepareForSleep(bool sleeping);

private:
    void watchNetworkAfterFailure();

    QPointer<AppState> m_appState;
    bool m_watchingNetwork = false;
    QNetworkInformation::Reachability m_reachability = QNetworkInformation::Reachability::Unknown;
};
