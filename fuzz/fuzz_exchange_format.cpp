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

template <typename T> void expectReason(const std::optional<T>& result, const QString& problem)
{
    if (!result && problem.isEmpty()) {
        fail("refused an answer without saying why");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray body(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    QString problem;
    const auto listings = ExchangeFormat::usdtListings(body, &problem);
    expectReason(listings, problem);
    if (listings) {
        for (const Catalogue::Listing& listing : *listings) {
            if (listing.baseAsset.isEmpty() || listing.baseAsset.contains(QLatin1Char(','))) {
                fail("listed a base asset that cannot be requested");
            }
        }
    }

    problem.clear();
    const auto tickers = ExchangeFormat::tickers(body, &problem);
    expectReason(tickers, problem);
    if (tickers) {
        for (const ExchangeFormat::Ticker& ticker : *tickers) {
            if (!std::isfinite(ticker.lastPrice) || !std::isfinite(ticker.changePercent)) {
                fail("a ticker with a non-finite number");
            }
            for (const auto& figure : {ticker.highPrice, ticker.lowPrice, ticker.quoteVolume, ticker.priceChange}) {
                if (figure && !std::isfinite(*figure)) {
                    fail("a ticker with a non-finite 24-hour figure");
                }
            }
        }
    }

    problem.clear();
    const auto closes = ExchangeFormat::closePrices(body, &problem);
    expectReason(closes, problem);
    if (closes) {
        for (const double close : *closes) {
            if (!std::isfinite(close)) {
                fail("a non-finite close price");
            }
        }
    }
    return 0;
}
