#include "MarketCache.h"

#include "ExchangeFormat.h"
#include "JsonText.h"

#include <QDateTime>
#include <QSet>
#include <QtGlobal>

#include <algorithm>

namespace {

using std::chrono::seconds;

void reportFailure(const QString& what, const QString& problem)
{
    qWarning("zentrow-backend: %s failed: %s", qPrintable(what), qPrintable(problem));
}

// receivedAt: when the exchange's answer came in, in ms since the epoch. It stays with the data,
// so clients can tell a quote served again from cache from a new one.
QByteArray tickerJson(const ExchangeFormat::Ticker& ticker, qint64 receivedAt)
{
    QByteArray json = R"("price":)";
    JsonText::appendNumber(json, ticker.lastPrice);
    json.append(R"(,"change24h":)");
    JsonText::appendNumber(json, ticker.changePercent);
    // Left out when the exchange did not say: the app shows "--" rather than a guess.
    const std::pair<const char*, const std::optional<double>&> figures[]{
        {R"(,"high24h":)", ticker.highPrice},
        {R"(,"low24h":)", ticker.lowPrice},
        {R"(,"quoteVolume24h":)", ticker.quoteVolume},
        {R"(,"priceChange24h":)", ticker.priceChange},
    };
    for (const auto& [member, value] : figures) {
        if (value) {
            json.append(member);
            JsonText::appendNumber(json, *value);
        }
    }
    json.append(R"(,"quotedAt":)");
    json.append(QByteArray::number(receivedAt));
    return json;
}

} // namespace

std::shared_ptr<MarketCache> MarketCache::create(std::unique_ptr<UpstreamClient> upstream, AssetNames names,
                                                 Settings settings, Clock clock)
{
    return std::shared_ptr<MarketCache>(
        new MarketCache(std::move(upstream), std::move(names), settings, std::move(clock)));
}

MarketCache::MarketCache(std::unique_ptr<UpstreamClient> upstream, AssetNames names, Settings settings, Clock clock)
    : m_upstream(std::move(upstream))
    , m_names(std::move(names))
    , m_settings(settings)
    , m_clock(std::move(clock))
{
}

QCoro::Task<MarketCache::CatalogueView> MarketCache::catalogue()
{
    return loadCatalogue(shared_from_this(), std::chrono::steady_clock::now() + m_settings.waitLimit);
}

QCoro::Task<MarketCache::QuotesView> MarketCache::quotes(QStringList upperIds)
{
    return loadQuotes(shared_from_this(), std::move(upperIds));
}

void MarketCache::stop()
{
    m_upstream->stop();
}

bool MarketCache::isFresh(const Slot& slot, seconds ttl, SteadyTime now) const
{
    return slot.fetched && now < slot.fetchedAt + ttl;
}

bool MarketCache::isUsable(const Slot& slot, seconds ttl, SteadyTime now) const
{
    return slot.fetched && now < slot.fetchedAt + ttl + m_settings.staleFor;
}

bool MarketCache::isResting(const Slot& slot, SteadyTime now) const
{
    return slot.failedAt && now < *slot.failedAt + m_settings.retryDelay;
}

bool MarketCache::mayFetch(const Slot& slot, seconds ttl, SteadyTime now) const
{
    return !slot.flight && !isFresh(slot, ttl, now) && !isResting(slot, now);
}

seconds MarketCache::remaining(const Slot& slot, seconds ttl, SteadyTime now) const
{
    if (!isFresh(slot, ttl, now)) {
        return seconds(0);
    }
    return std::chrono::floor<seconds>(slot.fetchedAt + ttl - now);
}

seconds MarketCache::usableLeft(const Slot& slot, seconds ttl, SteadyTime now) const
{
    if (!isUsable(slot, ttl, now)) {
        return seconds(0);
    }
    return std::chrono::floor<seconds>(slot.fetchedAt + ttl + m_settings.staleFor - now);
}

seconds MarketCache::retryAfter(const Slot& slot, SteadyTime now) const
{
    seconds wait(1);
    if (slot.failedAt) {
        wait = std::max(wait, std::chrono::ceil<seconds>(*slot.failedAt + m_settings.retryDelay - now));
    }
    return wait;
}

MarketCache::CatalogueView MarketCache::catalogueView(SteadyTime now) const
{
    const seconds ttl = m_settings.catalogueTtl;
    if (!m_catalogue || !isUsable(m_catalogueSlot, ttl, now)) {
        return {nullptr, seconds(0), seconds(0), retryAfter(m_catalogueSlot, now)};
    }
    const seconds maxAge = remaining(m_catalogueSlot, ttl, now);
    return {m_catalogue, maxAge, usableLeft(m_catalogueSlot, ttl, now) - maxAge, seconds(0)};
}

QCoro::Task<MarketCache::CatalogueView> MarketCache::loadCatalogue(Self self, Deadline until)
{
    const Running running(*self);
    const SteadyTime now = self->m_clock();
    Slot& slot = self->m_catalogueSlot;
    if (self->mayFetch(slot, self->m_settings.catalogueTtl, now)) {
        auto flight = std::make_shared<Flight>();
        slot.flight = flight;
        fetchCatalogue(self, std::move(flight));
    }
    // Stale but usable data answer at once; the refresh goes on without us.
    if (slot.flight && !self->isUsable(slot, self->m_settings.catalogueTtl, now)) {
        co_await Flight::wait(slot.flight, until);
    }
    co_return self->catalogueView(self->m_clock());
}

seconds MarketCache::secondsUntil(SteadyTime until, SteadyTime now)
{
    return until > now ? std::chrono::floor<seconds>(until - now) : seconds(0);
}

QCoro::Task<> MarketCache::fetchCatalogue(Self self, std::shared_ptr<Flight> flight)
{
    const Running running(*self);
    const UpstreamClient::Reply reply = co_await self->m_upstream->get(QStringLiteral("/api/v3/exchangeInfo"), {});
    QString problem = reply.problem;
    std::optional<QList<Catalogue::Listing>> listings;
    if (reply.ok) {
        listings = ExchangeFormat::usdtListings(reply.body, &problem);
    }
    Slot& slot = self->m_catalogueSlot;
    const SteadyTime now = self->m_clock();
    if (listings) {
        self->m_catalogue = std::make_shared<const Catalogue>(*listings, self->m_names);
        slot.fetched = true;
        slot.fetchedAt = now;
        slot.failedAt.reset();
        self->forgetUnlisted();
    } else {
        slot.failedAt = now;
        reportFailure(QStringLiteral("exchange information"), problem);
    }
    slot.flight.reset();
    ++self->m_version;
    flight->finish();
}

void MarketCache::forgetUnlisted()
{
    // Memory stays bounded by what is listed now, whatever clients asked for over time.
    QSet<QString> listed;
    for (const Asset& asset : m_catalogue->assets()) {
        listed.insert(asset.pair);
    }
    for (Slots* slots : {&m_tickers, &m_trends}) {
        slots->removeIf([&listed](const Slots::iterator& it) { return !listed.contains(it.key()); });
    }
    m_watched.removeIf(
        [&listed](const QHash<QString, SteadyTime>::iterator& it) { return !listed.contains(it.key()); });
}

QCoro::Task<MarketCache::QuotesView> MarketCache::loadQuotes(Self self, QStringList upperIds)
{
    const Running running(*self);
    // One limit for all the waiting below: catalogue, tickers and trends together.
    const Deadline until = std::chrono::steady_clock::now() + self->m_settings.waitLimit;
    const CatalogueView catalogue = co_await loadCatalogue(self, until);
    if (!catalogue.catalogue) {
        co_return QuotesView{nullptr, {}, seconds(0), seconds(0), catalogue.retryAfter};
    }
    QList<const Asset*> assets;
    QSet<const Asset*> seen;
    for (const QString& id : upperIds) {
        const Asset* asset = catalogue.catalogue->find(id);
        if (asset && !seen.contains(asset)) {
            seen.insert(asset);
            assets.append(asset);
        }
    }
    if (assets.isEmpty()) {
        co_return QuotesView{catalogue.catalogue, {}, catalogue.maxAge, catalogue.staleLeft, seconds(0)};
    }

    SteadyTime now = self->m_clock();
    for (const Asset* asset : assets) {
        self->m_watched.insert(asset->pair, now);
    }
    self->startTickerFetches(assets, now);
    for (const auto& flight : self->pendingFlights(self->m_tickers, assets, self->m_settings.priceTtl, now)) {
        co_await Flight::wait(flight, until);
    }
    // Trends only while tickers arrive: with the exchange failing, one call per retry is enough.
    now = self->m_clock();
    self->startTrendFetches(assets, now);
    for (const auto& flight : self->pendingFlights(self->m_trends, assets, self->m_settings.trendTtl, now)) {
        co_await Flight::wait(flight, until);
    }
    co_return self->quotesView(catalogue.catalogue, assets, self->m_clock());
}

QList<std::shared_ptr<Flight>> MarketCache::pendingFlights(const Slots& slots, const QList<const Asset*>& assets,
                                                           seconds ttl, SteadyTime now) const
{
    QList<std::shared_ptr<Flight>> flights;
    for (const Asset* asset : assets) {
        const auto slot = slots.constFind(asset->pair);
        if (slot != slots.constEnd() && slot->flight && !isUsable(*slot, ttl, now) && !flights.contains(slot->flight)) {
            flights.append(slot->flight);
        }
    }
    return flights;
}

void MarketCache::startTickerFetches(const QList<const Asset*>& assets, SteadyTime now)
{
    const seconds ttl = m_settings.priceTtl;
    QStringList batch;
    QSet<QString> inBatch;
    for (const Asset* asset : assets) {
        if (mayFetch(m_tickers[asset->pair], ttl, now)) {
            batch.append(asset->pair);
            inBatch.insert(asset->pair);
        }
    }
    if (batch.isEmpty()) {
        return;
    }
    // Take along what other clients watch and will want soon, so their next request finds it.
    for (auto it = m_watched.begin(); it != m_watched.end();) {
        if (now - it.value() > kWatchWindow) {
            it = m_watched.erase(it);
            continue;
        }
        const auto slot = m_tickers.constFind(it.key());
        if (slot != m_tickers.constEnd() && !inBatch.contains(it.key()) && !slot->flight && !isResting(*slot, now) &&
            (!slot->fetched || now - slot->fetchedAt >= ttl / 2)) {
            batch.append(it.key());
            inBatch.insert(it.key());
        }
        ++it;
    }
    for (qsizetype start = 0; start < batch.size(); start += kTickerBatchSize) {
        const QStringList pairs = batch.mid(start, kTickerBatchSize);
        auto flight = std::make_shared<Flight>();
        for (const QString& pair : pairs) {
            m_tickers[pair].flight = flight;
        }
        fetchTickers(shared_from_this(), pairs, std::move(flight));
    }
}

QCoro::Task<> MarketCache::fetchTickers(Self self, QStringList pairs, std::shared_ptr<Flight> flight)
{
    const Running running(*self);
    const UpstreamClient::Reply reply =
        co_await self->m_upstream->get(QStringLiteral("/api/v3/ticker/24hr"), ExchangeFormat::tickerQuery(pairs));
    QString problem = reply.problem;
    std::optional<QHash<QString, ExchangeFormat::Ticker>> tickers;
    if (reply.ok) {
        tickers = ExchangeFormat::tickers(reply.body, &problem);
    }
    if (!tickers) {
        reportFailure(QStringLiteral("tickers"), problem);
    }
    const SteadyTime now = self->m_clock();
    // Wall-clock time, unlike the cache's own: clients compare it across restarts of either side.
    const qint64 receivedAt = QDateTime::currentMSecsSinceEpoch();
    for (const QString& pair : pairs) {
        const auto slot = self->m_tickers.find(pair);
        if (slot == self->m_tickers.end() || slot->flight != flight) {
            continue;
        }
        slot->flight.reset();
        if (!tickers) {
            slot->failedAt = now;
            continue;
        }
        const auto ticker = tickers->constFind(pair);
        slot->json = ticker == tickers->constEnd() ? QByteArray() : tickerJson(*ticker, receivedAt);
        slot->fetched = true;
        slot->fetchedAt = now;
        slot->failedAt.reset();
    }
    ++self->m_version;
    flight->finish();
}

void MarketCache::startTrendFetches(const QList<const Asset*>& assets, SteadyTime now)
{
    for (const Asset* asset : assets) {
        const auto ticker = m_tickers.constFind(asset->pair);
        if (ticker == m_tickers.constEnd() || !ticker->fetched || ticker->failedAt || ticker->json.isEmpty()) {
            continue;
        }
        Slot& slot = m_trends[asset->pair];
        if (mayFetch(slot, m_settings.trendTtl, now)) {
            auto flight = std::make_shared<Flight>();
            slot.flight = flight;
            fetchTrend(shared_from_this(), asset->pair, std::move(flight));
        }
    }
}

QCoro::Task<> MarketCache::fetchTrend(Self self, QString pair, std::shared_ptr<Flight> flight)
{
    const Running running(*self);
    const QString path = QStringLiteral("/api/v3/klines");
    // Both series at once (tasks start eagerly), so the first answer waits for one round trip.
    QCoro::Task<UpstreamClient::Reply> dailyCall =
        self->m_upstream->get(path, ExchangeFormat::klinesQuery(pair, "1d", kTrendDays));
    QCoro::Task<UpstreamClient::Reply> fineCall =
        self->m_upstream->get(path, ExchangeFormat::klinesQuery(pair, "4h", kFineTrendPoints));
    const UpstreamClient::Reply reply = co_await dailyCall;
    const UpstreamClient::Reply fineReply = co_await fineCall;
    QString problem = reply.problem;
    std::optional<QList<double>> closes;
    if (reply.ok) {
        closes = ExchangeFormat::closePrices(reply.body, &problem);
    }
    if (!closes) {
        reportFailure(QStringLiteral("klines of %1").arg(pair), problem);
    }
    // The detail chart is a nicety: without it the daily trend still stands.
    QString fineProblem = fineReply.problem;
    std::optional<QList<double>> fineCloses;
    if (closes && fineReply.ok) {
        fineCloses = ExchangeFormat::closePrices(fineReply.body, &fineProblem);
    }
    if (closes && !fineCloses) {
        reportFailure(QStringLiteral("four-hourly klines of %1").arg(pair), fineProblem);
    }
    const auto slot = self->m_trends.find(pair);
    if (slot != self->m_trends.end() && slot->flight == flight) {
        slot->flight.reset();
        if (closes) {
            // The newest seven days, should the exchange send more.
            QList<double> trend = closes->mid(std::max<qsizetype>(0, closes->size() - kTrendDays));
            slot->json.clear();
            JsonText::appendNumberArray(slot->json, trend);
            slot->fineJson.clear();
            if (fineCloses && fineCloses->size() >= 2) {
                JsonText::appendNumberArray(
                    slot->fineJson, fineCloses->mid(std::max<qsizetype>(0, fineCloses->size() - kFineTrendPoints)));
            }
            slot->fetched = true;
            slot->fetchedAt = self->m_clock();
            slot->failedAt.reset();
        } else {
            slot->failedAt = self->m_clock();
        }
    }
    ++self->m_version;
    flight->finish();
}

MarketCache::QuotesView MarketCache::quotesView(const std::shared_ptr<const Catalogue>& catalogue,
                                                const QList<const Asset*>& assets, SteadyTime now) const
{
    QuotesView view{catalogue, {}, seconds(0), seconds(0), seconds(0)};
    // The answer is as fresh, and as usable, as the oldest data in it.
    const auto include = [&view, this](const Slot& slot, seconds ttl) {
        view.freshUntil = std::min(view.freshUntil, slot.fetchedAt + ttl);
        view.usableUntil = std::min(view.usableUntil, slot.fetchedAt + ttl + m_settings.staleFor);
    };
    view.freshUntil = SteadyTime::max();
    view.usableUntil = SteadyTime::max();
    include(m_catalogueSlot, m_settings.catalogueTtl);
    view.quotes.reserve(assets.size());
    for (const Asset* asset : assets) {
        const auto ticker = m_tickers.constFind(asset->pair);
        if (ticker == m_tickers.constEnd()) {
            continue; // delisted while we waited
        }
        if (!isUsable(*ticker, m_settings.priceTtl, now)) {
            return QuotesView{nullptr, {}, seconds(0), seconds(0), retryAfter(*ticker, now)};
        }
        if (ticker->json.isEmpty()) {
            continue; // listed, but the exchange has no ticker for it
        }
        include(*ticker, m_settings.priceTtl);
        Quote quote{asset, ticker->json, QByteArrayLiteral("[]"), {}};
        const auto trend = m_trends.constFind(asset->pair);
        if (trend != m_trends.constEnd() && isUsable(*trend, m_settings.trendTtl, now)) {
            quote.trendJson = trend->json;
            quote.fineTrendJson = trend->fineJson;
            include(*trend, m_settings.trendTtl);
        } else {
            view.complete = false;
        }
        view.quotes.append(std::move(quote));
    }
    if (!view.complete) {
        // A price without its trend is worth showing, but not worth keeping in a cache.
        view.freshUntil = now;
        view.usableUntil = now;
    }
    view.maxAge = secondsUntil(view.freshUntil, now);
    view.staleLeft = secondsUntil(view.usableUntil, now) - view.maxAge;
    return view;
}
