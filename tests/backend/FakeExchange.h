// A fake exchange on loopback for the backend tests.
#pragma once

#include "testlib/LoopbackHttpServer.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>
#include <QUrlQuery>

// Answers the three exchange endpoints in the documented format (decimals as strings) from
// tables a test may change; counts nothing itself: the server keeps every request.
class FakeExchange {
public:
    using Reply = LoopbackHttpServer::Reply;
    struct Pair {
        QString symbol;
        QString base;
        QString quote = QStringLiteral("USDT");
        QString status = QStringLiteral("TRADING");
    };

    FakeExchange()
    {
        m_server.setHandler([this](const LoopbackHttpServer::Request& request) { return answer(request); });
    }

    QUrl baseUrl() const { return m_server.baseUrl(); }

    // Requests whose path is `path`, in arrival order, as their full targets.
    QList<QByteArray> targets(QByteArrayView path) const
    {
        QList<QByteArray> found;
        for (const LoopbackHttpServer::Request& request : m_server.requests()) {
            if (request.target == path || request.target.startsWith(path.toByteArray() + '?')) {
                found.append(request.target);
            }
        }
        return found;
    }
    qsizetype calls(QByteArrayView path) const { return targets(path).size(); }
    qsizetype allCalls() const { return m_server.requests().size(); }
    int openConnections() const { return m_server.openConnections(); }

    QList<Pair> pairs{
        {QStringLiteral("BTCUSDT"), QStringLiteral("BTC")},
        {QStringLiteral("ETHUSDT"), QStringLiteral("ETH")},
        {QStringLiteral("SOLUSDT"), QStringLiteral("SOL")},
        {QStringLiteral("BCHUSDT"), QStringLiteral("BCH")},
        {QStringLiteral("ZKJUSDT"), QStringLiteral("ZKJ")},
        {QStringLiteral("ETHBTC"), QStringLiteral("ETH"), QStringLiteral("BTC")},
        {QStringLiteral("LUNAUSDT"), QStringLiteral("LUNA"), QStringLiteral("USDT"), QStringLiteral("BREAK")},
    };
    // symbol -> {lastPrice, priceChangePercent}
    QHash<QString, std::pair<QString, QString>> tickers{
        {QStringLiteral("BTCUSDT"), {QStringLiteral("75456.36000000"), QStringLiteral("-2.050")}},
        {QStringLiteral("ETHUSDT"), {QStringLiteral("3012.50000000"), QStringLiteral("1.250")}},
        {QStringLiteral("SOLUSDT"), {QStringLiteral("151.20000000"), QStringLiteral("0.000")}},
        {QStringLiteral("BCHUSDT"), {QStringLiteral("480.10000000"), QStringLiteral("-0.500")}},
        {QStringLiteral("ZKJUSDT"), {QStringLiteral("0.00001234"), QStringLiteral("12.000")}},
    };
    QList<QString> closes{QStringLiteral("71000.00"), QStringLiteral("72200.00"), QStringLiteral("73650.00"),
                          QStringLiteral("74120.00"), QStringLiteral("75900.00"), QStringLiteral("76320.00"),
                          QStringLiteral("75456.36")};
    // symbol -> the rest of the 24-hour window; a ticker without an entry has none of it.
    QHash<QString, QJsonObject> figures{
        {QStringLiteral("BTCUSDT"), QJsonObject{{"priceChange", "-1579.32000000"},
                                                {"highPrice", "77410.00000000"},
                                                {"lowPrice", "74850.12000000"},
                                                {"quoteVolume", "1523456789.12000000"}}},
    };
    // The four-hourly closes, whatever the pair.
    QList<QString> fineCloses{QStringLiteral("74000.50"), QStringLiteral("74800.25"), QStringLiteral("75456.36")};
    bool hangs = false;    // never answers at all
    int failingStatus = 0; // non-zero: every endpoint answers this
    QList<std::pair<QByteArray, QByteArray>> failingHeaders;
    std::chrono::milliseconds delay{0};
    std::chrono::milliseconds trickle{0}; // non-zero: the body comes one byte per this interval

private:
    Reply answer(const LoopbackHttpServer::Request& request)
    {
        if (hangs) {
            return Reply::never();
        }
        Reply reply = build(request);
        reply.delay = delay;
        reply.byteInterval = trickle;
        return reply;
    }

    Reply build(const LoopbackHttpServer::Request& request)
    {
        if (failingStatus != 0) {
            Reply reply = Reply::json(R"({"code":-1003,"msg":"Too much request weight used."})", failingStatus);
            for (const auto& [name, value] : failingHeaders) {
                reply.addHeader(name, value);
            }
            return reply;
        }
        const QUrl url = QUrl::fromEncoded("http://exchange" + request.target, QUrl::StrictMode);
        const QUrlQuery query(url);
        if (url.path() == QLatin1String("/api/v3/exchangeInfo")) {
            QJsonArray symbols;
            for (const Pair& pair : std::as_const(pairs)) {
                symbols.append(QJsonObject{{"symbol", pair.symbol},
                                           {"status", pair.status},
                                           {"baseAsset", pair.base},
                                           {"quoteAsset", pair.quote},
                                           {"isSpotTradingAllowed", true},
                                           {"permissions", QJsonArray{"SPOT"}}});
            }
            return Reply::json(QJsonDocument(QJsonObject{{"timezone", "UTC"},
                                                         {"serverTime", 1565246363776.0},
                                                         {"rateLimits", QJsonArray()},
                                                         {"symbols", symbols}})
                                   .toJson());
        }
        if (url.path() == QLatin1String("/api/v3/ticker/24hr")) {
            const QJsonArray wanted =
                QJsonDocument::fromJson(query.queryItemValue("symbols", QUrl::FullyDecoded).toUtf8()).array();
            QJsonArray answer;
            for (const QJsonValue& symbol : wanted) {
                const auto ticker = tickers.constFind(symbol.toString());
                if (ticker == tickers.constEnd()) {
                    continue;
                }
                QJsonObject item{{"symbol", symbol.toString()},
                                 {"priceChangePercent", ticker->second},
                                 {"lastPrice", ticker->first},
                                 {"volume", "8913.30000000"},
                                 {"count", 76}};
                const QJsonObject extra = figures.value(symbol.toString());
                for (auto it = extra.begin(); it != extra.end(); ++it) {
                    item.insert(it.key(), it.value());
                }
                answer.append(item);
            }
            return Reply::json(QJsonDocument(answer).toJson());
        }
        if (url.path() == QLatin1String("/api/v3/klines")) {
            QJsonArray rows;
            double openTime = 1499040000000.0;
            const bool fine = query.queryItemValue("interval") == QLatin1String("4h");
            for (const QString& close : fine ? fineCloses : closes) {
                rows.append(QJsonArray{openTime, "0.01634790", "0.80000000", "0.01575800", close, "148976.11427815",
                                       openTime + 86399999, "2434.19055334", 308, "1756.87402397", "28.46694368", "0"});
                openTime += 86400000;
            }
            return Reply::json(QJsonDocument(rows).toJson());
        }
        return Reply::json(R"({"code":-1121,"msg":"Invalid symbol."})", 400);
    }

    LoopbackHttpServer m_server;
};
