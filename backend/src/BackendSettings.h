#pragma once

#include <QHostAddress>
#include <QString>
#include <QUrl>

#include <chrono>

// Everything the command line can change. The defaults are what `zentrow-backend` runs with.
struct BackendSettings {
    static constexpr quint16 kDefaultPort = 8737;
    static constexpr const char* kDefaultUpstream = "https://data-api.binance.vision";

    QHostAddress address = QHostAddress(QHostAddress::LocalHost);
    quint16 port = kDefaultPort; // 0: any free port (the chosen one is printed)
    QUrl upstream = QUrl(QString::fromLatin1(kDefaultUpstream));

    std::chrono::seconds catalogueTtl{3600}; // the list of tradable pairs
    std::chrono::seconds priceTtl{15};       // 24-hour tickers
    std::chrono::seconds trendTtl{3600};     // daily klines
    std::chrono::seconds staleFor{600};      // how long past its lifetime data may stand in for failed refreshes
    std::chrono::seconds retryDelay{5};      // quiet time after a failed upstream call
    std::chrono::milliseconds upstreamTimeout{10'000};

    int maxConnections = 512;
    int maxConnectionsPerAddress = 0; // 0: a quarter of maxConnections
    QString namesFile;                // empty: the table compiled into the binary

    qintptr listeningSocket = -1;         // a socket handed over by systemd; -1: listen on address and port
    std::chrono::seconds exitWhenIdle{0}; // quit after this long without clients; 0: never
};
