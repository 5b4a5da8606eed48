#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <memory>

// SIGTERM and SIGINT turned into a Qt signal on the event loop (a handler may do almost nothing
// itself, so it only writes the signal number into a pipe). One instance per process; the
// default handling comes back when it is destroyed.
class ShutdownSignals : public QObject {
    Q_OBJECT
public:
    explicit ShutdownSignals(QObject* parent = nullptr);
    ~ShutdownSignals() override;

    bool isInstalled() const { return m_notifier != nullptr; }

Q_SIGNALS:
    void received(int signalNumber);

private:
    void readPipe();

    std::unique_ptr<QSocketNotifier> m_notifier;
};
