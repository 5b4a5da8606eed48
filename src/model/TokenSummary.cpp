#include "model/TokenSummary.h"

#include "support/JsonReader.h"

#include <QHashFunctions>
#include <QJsonArray>

#include <cmath>

bool operator==(const TokenSummary& a, const TokenSummary& b)
{
    const auto urlText = [](const std::optional<QUrl>& url) {
        return url ? std::optional<QString>(url->toString(QUrl::FullyEncoded)) : std::nullopt;
    };
    return a.id == b.id && a.symbol == b.symbol && a.name == b.name && a.rank == b.rank && a.price == b.price &&
           a.change24h == b.change24h && a.trend7d == b.trend7d && a.iconSeed == b.iconSeed &&
           urlText(a.logoURL) == urlText(b.logoURL) && a.high24h == b.high24h && a.low24h == b.low24h &&
           a.quoteVolume24h == b.quoteVolume24h && a.priceChange24h == b.priceChange24h &&
           a.trend7dFine == b.trend7dFine;
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

std::optional<QJsonArray> finiteArray(const QList<double>& values)
{
    QJsonArray array;
    for (double value : values) {
        if (!std::isfinite(value)) {
            return std::nullopt;
        }
        array.append(value);
    }
    return array;
}

} // namespace

std::optional<QJsonObject> TokenSummary::toJson() const
{
    if (!std::isfinite(price) || !std::isfinite(change24h)) {
        return std::nullopt;
    }
    const std::optional<QJsonArray> trend = finiteArray(trend7d);
    const std::optional<QJsonArray> fineTrend = finiteArray(trend7dFine);
    if (!trend || !fineTrend) {
        return std::nullopt;
    }
    QJsonObject object{
        {QStringLiteral("id"), id},
        {QStringLiteral("symbol"), symbol},
        {QStringLiteral("name"), name},
        {QStringLiteral("price"), price},
        {QStringLiteral("change24h"), change24h},
        {QStringLiteral("trend7d"), *trend},
        {QStringLiteral("iconSeed"), iconSeed},
    };
    if (rank) {
        object.insert(QStringLiteral("rank"), *rank);
    }
    if (logoURL) {
        object.insert(QStringLiteral("logoURL"), logoURL->toString(QUrl::FullyEncoded));
    }
    const std::pair<const QString&, const std::optional<double>&> figures[]{
        {kHigh24h, high24h}, {kLow24h, low24h}, {kQuoteVolume24h, quoteVolume24h}, {kPriceChange24h, priceChange24h}};
    for (const auto& [key, figure] : figures) {
        if (figure) {
            if (!std::isfinite(*figure)) {
                return std::nullopt;
            }
            object.insert(key, *figure);
        }
    }
    if (!trend7dFine.isEmpty()) {
        object.insert(kTrend7dFine, *fineTrend);
    }
    return object;
}

Result<TokenSummary> TokenSummary::fromJson(const QJsonObject& object)
{
    JsonReader reader(object, QStringLiteral("TokenSummary"));
    TokenSummary token;
    token.id = reader.string(QStringLiteral("id"));
    token.symbol = reader.string(QStringLiteral("symbol"));
    token.name = reader.string(QStringLiteral("name"));
    token.rank = reader.optionalInteger(QStringLiteral("rank"));
    token.price = reader.number(QStringLiteral("price"));
    token.change24h = reader.number(QStringLiteral("change24h"));
    token.trend7d = reader.numberArray(QStringLiteral("trend7d"));
    token.iconSeed = reader.string(QStringLiteral("iconSeed"));
    if (const auto logo = reader.optionalString(QStringLiteral("logoURL"))) {
        const QUrl url(*logo, QUrl::StrictMode);
        if (logo->isEmpty() || !url.isValid()) {
            reader.fail(QStringLiteral("logoURL"), QStringLiteral("not a valid URL"));
        } else {
            token.logoURL = url;
        }
    }
    readMarketFigures(reader, token);
    if (!reader.ok()) {
        return reader.error();
    }
    return token;
}

void TokenSummary::readMarketFigures(JsonReader& reader, TokenSummary& token)
{
    token.high24h = reader.optionalNumber(kHigh24h);
    token.low24h = reader.optionalNumber(kLow24h);
    token.quoteVolume24h = reader.optionalNumber(kQuoteVolume24h);
    token.priceChange24h = reader.optionalNumber(kPriceChange24h);
    token.trend7dFine = reader.optionalNumberArray(kTrend7dFine).value_or(QList<double>());
}
