#include "model/TokenSummary.h"

#include "support/JsonReader.h"

#include <QHashFunctions>

bool operator==(const TokenSummary& a, const TokenSummary& b)
{
    const auto urlText = [](const std::optional<QUrl>& url) {
        return url ? std::optional<QString>(url->toString(QUrl::FullyEncoded)) : std::nullopt;
    };
    return a.id == b.id && a.symbol == b.symbol && a.name == b.name && a.rank == b.rank && a.price == b.price &&
           a.change24h == b.change24h && a.trend7d == b.trend7d && a.iconSeed == b.iconSeed &&
           urlText(a.logoURL) == urlText(b.logoURL) && a.high24h == b.high24h && a.low24h == b.low24h &&
           a.quoteVolume24h == b.quoteVolume24h && a.priceChange24h == b.priceChange24h &&
           a.trend7dFine == b.trend7dFine && a.quotedAt == b.quotedAt;
}

size_t qHash(const TokenSummary& token, size_t seed)
{
    QtPrivate::QHashCombine combine;
    seed = combine(seed, token.id);
    seed = combine(seed, token.symbol);
    seed = combine(seed, token.name);
    seed = combine(seed, token.rank.value_or(-1));
    seed = combine(seed, token.rank.has_value());
    seed = combine(seed, token.price);
    seed = combine(seed, token.change24h);
    for (double value : token.trend7d) {
        seed = combine(seed, value);
    }
    seed = combine(seed, token.iconSeed);
    seed = combine(seed, token.logoURL ? token.logoURL->toString(QUrl::FullyEncoded) : QString());
    for (const auto& figure : {token.high24h, token.low24h, token.quoteVolume24h, token.priceChange24h}) {
        seed = combine(seed, figure.value_or(0));
        seed = combine(seed, figure.has_value());
    }
    for (double value : token.trend7dFine) {
        seed = combine(seed, value);
    }
    seed = combine(seed, token.quotedAt.value_or(-1));
    seed = combine(seed, token.quotedAt.has_value());
    return seed;
}

const QList<TokenSummary>& TokenSummary::fallbackCatalog()
{
    static const QList<TokenSummary> catalog = [] {
        const auto row = [](const char* symbol, const char* name, qint64 rank, double price, double change,
                            QList<double> trend) {
            const QString text = QString::fromLatin1(symbol);
            return TokenSummary{text,        text,   QString::fromLatin1(name), rank,
                                price,       change, std::move(trend),          text.toLower(),
                                std::nullopt};
        };
        return QList<TokenSummary>{
            row("BTC", "Bitcoin", 1, 75456.36, -2.05, {71000, 72200, 73650, 74120, 75900, 76320, 75456}),
            row("ETH", "Ethereum", 2, 2337.24, -3.08, {2280, 2294, 2310, 2385, 2420, 2396, 2337}),
            row("SOL", "Solana", 5, 85.71, -3.13, {80.1, 81.4, 83.7, 86.4, 88.9, 87.2, 85.71}),
            row("DOGE", "Dogecoin", 9, 0.1762, 1.34, {0.161, 0.163, 0.166, 0.171, 0.174, 0.177, 0.1762}),
            row("XRP", "XRP", 6, 1.98, -0.81, {1.87, 1.84, 1.91, 1.95, 2.02, 1.99, 1.98}),
            row("ADA", "Cardano", 10, 0.6942, -1.55, {0.648, 0.654, 0.668, 0.679, 0.701, 0.698, 0.6942}),
        };
    }();
    return catalog;
}

namespace {

const QString kHigh24h = QStringLiteral("high24h");
const QString kLow24h = QStringLiteral("low24h");
const QString kQuoteVolume24h = QStringLiteral("quoteVolume24h");
const QString kPriceChange24h = QStringLiteral("priceChange24h");
const QString kTrend7dFine = QStringLiteral("trend7dFine");
const QString kQuotedAt = QStringLiteral("quotedAt");

} // namespace

void TokenSummary::readMarketFigures(JsonReader& reader, TokenSummary& token)
{
    token.high24h = reader.optionalNumber(kHigh24h);
    token.low24h = reader.optionalNumber(kLow24h);
    token.quoteVolume24h = reader.optionalNumber(kQuoteVolume24h);
    token.priceChange24h = reader.optionalNumber(kPriceChange24h);
    token.trend7dFine = reader.optionalNumberArray(kTrend7dFine).value_or(QList<double>());
    token.quotedAt = reader.optionalInteger(kQuotedAt);
}
