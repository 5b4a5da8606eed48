#pragma once

#include "ApiService.h"
#include "BackendSettings.h"
#include "Clock.h"
#include "HttpServer.h"
#include "MarketCache.h"

#include <QObject>
#include <QTimer>
#include <QUrl>

#include <memory>

// The whole service, wired from its settings: the exchange client, the cache, the two routes and
// the HTTP server. main() and the tests build exactly this.
class Backend : public QObject {
    Q_OBJECT
public:
    explicit Backend(BackendSettings settings, Clock clock = steadyClock(), QObject* parent = nullptr);
    ~Backend() override;

    // Loads the name table and starts listening; on failure says why.
    bool start(QString* problem);

    quint16 port() const;
    // Null before start().
    HttpServer* server() const;
    // http://127.0.0.1:8737 (IPv6 addresses in brackets).
    QUrl url() const;
    const BackendSettings& settings() const { return m_settings; }

    // Stops accepting clients and lets every connection finish its answer: exchange calls still
    // running half-way through kStopGrace are given up (their requests answer from the cache or
    // with 503), connections still open at three quarters of it are dropped. Emits stopped()
    // once nothing is left, or when kStopGrace has passed.
    void stop();
    static constexpr std::chrono::milliseconds kStopGrace{2000};

Q_SIGNALS:
    void stopped();

private:
    void checkStopped();

    BackendSettings m_settings;
    Clock m_clock;
    std::shared_ptr<MarketCache> m_cache;
    std::unique_ptr<ApiService> m_api;
    // Declared last, so it goes first: no request reaches the routes while they are torn down.
    std::unique_ptr<HttpServer> m_server;
    QTimer m_stopping;
    SteadyTime m_stopStarted{};
    bool m_exchangeDropped = false;
    bool m_connectionsDropped = false;
};
