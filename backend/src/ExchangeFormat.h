#pragma once

#include "Catalogue.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// The exchange's public spot REST API as far as this service reads it. Prices and quantities
// arrive as decimal strings; they are read as doubles here and nowhere else.
namespace ExchangeFormat {

inline constexpr QLatin1StringView kQuoteAsset("USDT");

struct Ticker {
    double lastPrice = 0;
    double changePercent = 0;
    // The rest of the 24-hour window, as the exchange reports it; each left out when missing or
    // not a finite number, since an old or partial answer must not cost the price.
    std::optional<double> highPrice;
    std::optional<double> lowPrice;
    std::optional<double> quoteVolume; // traded in the quote asset, USDT
    std::optional<double> priceChange;
};

// GET /api/v3/exchangeInfo: the pairs quoted in USDT whose status is TRADING and that allow
// spot trading. Malformed entries are skipped; a body without a "symbols" array is a failure.
std::optional<QList<Catalogue::Listing>> usdtListings(const QByteArray& body, QString* problem);

// GET /api/v3/ticker/24hr?symbols=[...]: the tickers by symbol. Entries without a finite
// price and change are left out; a body that is not an array is a failure.
std::optional<QHash<QString, Ticker>> tickers(const QByteArray& body, QString* problem);

// GET /api/v3/klines: the close prices, oldest first. Any malformed row fails the whole series,
// so a trend is never drawn with a gap.
std::optional<QList<double>> closePrices(const QByteArray& body, QString* problem);

// The encoded query for one ticker batch: symbols=%5B%22BTCUSDT%22,%22ETHUSDT%22%5D.
QByteArray tickerQuery(const QStringList& pairs);
// The encoded query for one pair's klines: symbol=BTCUSDT&interval=1d&limit=7.
QByteArray klinesQuery(const QString& pair, QByteArrayView interval, int limit);

} // namespace ExchangeFormat
