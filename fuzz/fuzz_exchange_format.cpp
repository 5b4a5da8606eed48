// libFuzzer target for the readers of the exchange's answers (exchange information, 24-hour
// tickers, klines). The same bytes go to all three. Besides crashes and sanitizer reports
// it checks what the rest of the backend relies on: a refusal says why, prices are finite, and
// every listing has a base asset that can be asked for in a quotes request.

#include "ExchangeFormat.h"
#include "FuzzCheck.h"

#include <QByteArray>
#include <QString>

#include <cmath>
#include <cstdint>

namespace {

// A refusal says why; whatever is read is finite.
template <typename T> void expectReason(const std::optional<T>& result, const QString& problem)
{
    if (!result && problem.isEmpty()) {
        fail("refused an answer without saying why");
    }
}

void expectFinite(std::optional<double> number)
{
    if (number && !std::isfinite(*number)) {
        fail("a non-finite number", QByteArray::number(*number));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray body(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    QString problem;
    const auto listings = ExchangeFormat::usdtListings(body, &problem);
    expectReason(listings, problem);
    for (const Catalogue::Listing& listing : listings.value_or(QList<Catalogue::Listing>())) {
        if (listing.baseAsset.isEmpty() || listing.baseAsset.contains(QLatin1Char(','))) {
            fail("listed a base asset that cannot be requested");
        }
    }

    problem.clear();
    const auto tickers = ExchangeFormat::tickers(body, &problem);
    expectReason(tickers, problem);
    for (const ExchangeFormat::Ticker& ticker : tickers.value_or(QHash<QString, ExchangeFormat::Ticker>())) {
        for (const auto& figure : {std::optional(ticker.lastPrice), std::optional(ticker.changePercent),
                                   ticker.highPrice, ticker.lowPrice, ticker.quoteVolume, ticker.priceChange}) {
            expectFinite(figure);
        }
    }

    problem.clear();
    const auto closes = ExchangeFormat::closePrices(body, &problem);
    expectReason(closes, problem);
    for (const double close : closes.value_or(QList<double>())) {
        expectFinite(close);
    }
    return 0;
}
