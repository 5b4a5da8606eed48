#pragma once

#include "AssetNames.h"
#include "Catalogue.h"
#include "Clock.h"
#include "Flight.h"
#include "UpstreamClient.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QStringList>

#include <QCoroTask>

#include <chrono>
#include <memory>
#include <optional>

// What the exchange told us, kept for as long as it may be shown, so that any number of
// clients cost the exchange a bounded number of calls:
//
// - the catalogue of USDT pairs is fetched at most once per catalogue lifetime;
// - tickers are fetched in batches of up to 100 pairs, at most once per price lifetime each;
//   a batch also takes along every pair some client asked for in the last ten minutes that is
//   half-way through its lifetime, so clients with different watchlists share one call;
// - klines, two calls per pair (daily closes for the row's trend, four-hourly ones for the detail
//   chart; the exchange has no batch form), at most once per trend lifetime, and only while
//   tickers arrive (a failing exchange is not hit once per pair);
// - concurrent requests for data that is being fetched wait for that one call.
//
// Data past their lifetime but within staleFor of it are served at once while one refresh runs
// in the background; only a request without usable data waits for the exchange, and never
// longer than waitLimit. After a failed call the exchange is left alone for retryDelay; without
// usable data the answer is "unavailable".
//
// Lives on the main thread. Its coroutines keep it alive while they run, so it may be dropped
// by its owner at any time.
class MarketCache : public std::enable_shared_from_this<MarketCache> {
public:
    static constexpr int kTrendDays = 7;
    // Four-hourly closes over the same seven days: fine enough for the detail chart, a fraction
    // of the bytes of hourly ones.
    static constexpr int kFineTrendPoints = kTrendDays * 6;
    static constexpr qsizetype kTickerBatchSize = 100;
    static constexpr std::chrono::minutes kWatchWindow{10};

    struct Settings {
        std::chrono::seconds catalogueTtl{3600};
        std::chrono::seconds priceTtl{15};
        std::chrono::seconds trendTtl{3600};
        std::chrono::seconds staleFor{600};
        std::chrono::seconds retryDelay{5};
        std::chrono::milliseconds waitLimit{10'000}; // longest a request waits for the exchange
    };

    struct CatalogueView {
        std::shared_ptr<const Catalogue> catalogue; // null: unavailable
        std::chrono::seconds maxAge{0};             // how long the answer stays fresh
        std::chrono::seconds staleLeft{0};          // how long after that it may still stand in
        std::chrono::seconds retryAfter{0};         // when unavailable: when to ask again
    };

    struct Quote {
        const Asset* asset = nullptr;
        QByteArray numbersJson;   // "price":..,"change24h":.. and the other 24-hour figures there are
        QByteArray trendJson;     // [..]
        QByteArray fineTrendJson; // [..], or empty when the exchange gave none
    };

    struct QuotesView {
        std::shared_ptr<const Catalogue> catalogue; // null: unavailable; keeps the assets alive
        QList<Quote> quotes;
        std::chrono::seconds maxAge{0};
        std::chrono::seconds staleLeft{0};
        std::chrono::seconds retryAfter{0};
        SteadyTime freshUntil{}; // max-age and staleLeft as times, on the cache's clock
        SteadyTime usableUntil{};
        bool complete = true; // every quote has its trend
    };

    static std::shared_ptr<MarketCache> create(std::unique_ptr<UpstreamClient> upstream, AssetNames names,
                                               Settings settings, Clock clock);

    QCoro::Task<CatalogueView> catalogue();
    // Ids upper-cased; duplicates and ids not listed are left out, the rest keep their order.
    QCoro::Task<QuotesView> quotes(QStringList upperIds);

    // Fails the exchange calls in progress and every later one, so that waiting requests answer
    // at once; for shutting down.
    void stop();
    // No exchange call and no request is in progress.
    bool isIdle() const { return m_running == 0; }
    // Changes whenever what is held changes; answers built from the same version are the same.
    quint64 version() const { return m_version; }
    SteadyTime now() const { return m_clock(); }
    static std::chrono::seconds secondsUntil(SteadyTime until, SteadyTime now);

    MarketCache(const MarketCache&) = delete;
    MarketCache& operator=(const MarketCache&) = delete;

private:
    struct Slot {
        bool fetched = false; // an answer arrived (json may still be empty: not in it)
        SteadyTime fetchedAt{};
        std::optional<SteadyTime> failedAt; // the last attempt failed, at that time
        std::shared_ptr<Flight> flight;
        QByteArray json;
        QByteArray fineJson; // trends only: the four-hourly series, empty when it failed
    };
    using Slots = QHash<QString, Slot>;
    using Self = std::shared_ptr<MarketCache>;
    using Deadline = std::chrono::steady_clock::time_point; // real time, whatever the injected clock says

    // Counts a coroutine of this cache as running for as long as it lives.
    class Running {
    public:
        explicit Running(MarketCache& cache)
            : m_cache(cache)
        {
            ++m_cache.m_running;
        }
        ~Running() { --m_cache.m_running; }
        Running(const Running&) = delete;
        Running& operator=(const Running&) = delete;

    private:
        MarketCache& m_cache;
    };

    MarketCache(std::unique_ptr<UpstreamClient> upstream, AssetNames names, Settings settings, Clock clock);

    bool isFresh(const Slot& slot, std::chrono::seconds ttl, SteadyTime now) const;
    bool isUsable(const Slot& slot, std::chrono::seconds ttl, SteadyTime now) const;
    bool isResting(const Slot& slot, SteadyTime now) const;
    bool mayFetch(const Slot& slot, std::chrono::seconds ttl, SteadyTime now) const;
    std::chrono::seconds remaining(const Slot& slot, std::chrono::seconds ttl, SteadyTime now) const;
    std::chrono::seconds usableLeft(const Slot& slot, std::chrono::seconds ttl, SteadyTime now) const;
    std::chrono::seconds retryAfter(const Slot& slot, SteadyTime now) const;

    CatalogueView catalogueView(SteadyTime now) const;
    QuotesView quotesView(const std::shared_ptr<const Catalogue>& catalogue, const QList<const Asset*>& assets,
                          SteadyTime now) const;
    void startTickerFetches(const QList<const Asset*>& assets, SteadyTime now);
    void startTrendFetches(const QList<const Asset*>& assets, SteadyTime now);
    // Flights of the slots without usable data that the answer for these assets has to wait for.
    QList<std::shared_ptr<Flight>> pendingFlights(const Slots& slots, const QList<const Asset*>& assets,
                                                  std::chrono::seconds ttl, SteadyTime now) const;
    void forgetUnlisted();

    static QCoro::Task<CatalogueView> loadCatalogue(Self self, Deadline until);
    static QCoro::Task<QuotesView> loadQuotes(Self self, QStringList upperIds);
    static QCoro::Task<> fetchCatalogue(Self self, std::shared_ptr<Flight> flight);
    static QCoro::Task<> fetchTickers(Self self, QStringList pairs, std::shared_ptr<Flight> flight);
    static QCoro::Task<> fetchTrend(Self self, QString pair, std::shared_ptr<Flight> flight);

    std::unique_ptr<UpstreamClient> m_upstream;
    AssetNames m_names;
    Settings m_settings;
    Clock m_clock;

    Slot m_catalogueSlot;
    std::shared_ptr<const Catalogue> m_catalogue;
    Slots m_tickers;                      // by pair
    Slots m_trends;                       // by pair
    QHash<QString, SteadyTime> m_watched; // pair -> when a client last asked for it
    int m_running = 0;                    // coroutines in progress
    quint64 m_version = 0;
};
