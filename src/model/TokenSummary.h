#pragma once

#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

class JsonReader;

// One token's identity and market numbers, as the services return it and the views show it.
// Never stored; lives in the state's snapshots and search results.
struct TokenSummary {
    QString id;
    QString symbol;
    QString name;
    std::optional<qint64> rank;
    double price = 0;
    double change24h = 0;
    QList<double> trend7d;
    QString iconSeed;
    std::optional<QUrl> logoURL;
    // The exchange's own 24-hour figures and a finer seven-day series for the detail panel.
    // Absent (empty, for the series) wherever the source has none: search results, the built-in
    // catalogue, an older backend.
    std::optional<double> high24h = std::nullopt;
    std::optional<double> low24h = std::nullopt;
    std::optional<double> quoteVolume24h = std::nullopt; // in USDT
    std::optional<double> priceChange24h = std::nullopt; // in USDT, signed
    QList<double> trend7dFine = {};
    // When the backend received this quote from the exchange, in ms since the epoch; the same data
    // served again keep their time. Absent from an older backend and outside quotes.
    std::optional<qint64> quotedAt = std::nullopt;

    friend bool operator==(const TokenSummary& a, const TokenSummary& b);

    // The six built-in tokens that answer searches when the backend cannot.
    static const QList<TokenSummary>& fallbackCatalog();

    // The optional 24-hour figures and fine series of the backend's quotes records.
    static void readMarketFigures(JsonReader& reader, TokenSummary& token);
};

size_t qHash(const TokenSummary& token, size_t seed = 0);
