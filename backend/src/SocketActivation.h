#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <optional>
#include <variant>

class HttpServer;

// The systemd socket activation protocol (sd_listen_fds(3)): a service started for a socket unit
// finds the listening socket at descriptor 3, LISTEN_FDS=1 and LISTEN_PID=<its own pid>.
namespace SocketActivation {

constexpr int kFirstDescriptor = 3;

struct NotActivated {};
struct Inherited {
    int descriptor;
};
struct Problem {
    QString message;
};
using Outcome = std::variant<NotActivated, Inherited, Problem>;

// Reads the protocol's variables and checks the inherited descriptor: one listening TCP socket.
// The variables are removed from the environment either way, so children do not take them for
// their own.
Outcome takeListeningSocket();

} // namespace SocketActivation

// Reports `idle` once the server has had no open connection and accepted no new one for
// `quietPeriod`: a service that systemd starts on demand should not stay around when nobody uses
// it. Open connections are sampled once a second (or once per quiet period, if shorter).
class IdleExit : public QObject {
    Q_OBJECT
public:
    IdleExit(HttpServer& server, std::chrono::milliseconds quietPeriod, QObject* parent = nullptr);

    std::chrono::milliseconds quietPeriod() const { return m_quietPeriod; }

Q_SIGNALS:
    void idle();

private:
    void check();

    HttpServer& m_server;
    std::chrono::milliseconds m_quietPeriod;
    QElapsedTimer m_sinceBusy;
    QTimer m_poll;
};
