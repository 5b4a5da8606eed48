// Speed of the work that runs on every change signal, every save and every refresh.
#include "services/MockMarketDataService.h"
#include "state/AppState.h"
#include "storage/LocalStore.h"
#include "storage/SettingsDefaultsStore.h"

#include <QCoreApplication>
#include <QCoroTask>
#include <QHash>
#include <QJsonDocument>
#include <QLocale>
#include <QSaveFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

// Answers every refresh at once with a prepared list.
class InstantService final : public MarketDataServing {
public:
    QList<TokenSummary> answer;
    QCoro::Task<QList<TokenSummary>> search(QString, std::stop_token) override { co_return QList<TokenSummary>{}; }
    QCoro::Task<Result<QList<TokenSummary>>> refreshWatchlist(QList<QString>, std::stop_token) override
    {
        // A copy: co_return moves from what it is given.
        co_return QList<TokenSummary>(answer);
    }
};

QList<TokenSummary> tokens(int count)
{
    QList<TokenSummary> list;
    for (int i = 0; i < count; ++i) {
        const QString id = QStringLiteral("TK%1").arg(i);
        list.append(TokenSummary{id,
                                 id,
                                 QStringLiteral("Token %1").arg(i),
                                 std::nullopt,
                                 1000.0 + i,
                                 -1.5,
                                 {1, 2, 3, 4, 5, 6, 7},
                                 id.toLower(),
                                 std::nullopt});
    }
    return list;
}

struct Fixture {
    QTemporaryDir dir;
    std::shared_ptr<InstantService> service = std::make_shared<InstantService>();
    std::unique_ptr<AppState> state;

    // alerts: armed price alerts spread over the tokens, none of them near its threshold.
    explicit Fixture(int count, int alerts = 0)
    {
        auto defaults = std::make_shared<SettingsDefaultsStore>(dir.filePath(QStringLiteral("bench.conf")));
        StoredState document;
        for (int i = 0; i < count; ++i) {
            document.watchlist.append(
                WatchlistEntry{WatchlistEntry::makeID(), QStringLiteral("TK%1").arg(i), i == count - 1, true, i});
        }
        for (int i = 0; i < alerts; ++i) {
            const auto kind = PriceAlert::Kind(i % 3);
            const double threshold = kind == PriceAlert::Kind::Above ? 1e9 : kind == PriceAlert::Kind::Below ? 1 : 50;
            document.priceAlerts.append(PriceAlert{.id = WatchlistEntry::makeID(),
                                                   .tokenID = QStringLiteral("TK%1").arg(i % count),
                                                   .kind = kind,
                                                   .threshold = threshold});
        }
        auto store = std::make_shared<LocalStore>(defaults);
        store->save(document);
        service->answer = tokens(count);
        state = std::make_unique<AppState>(service, store);
        QCoreApplication::processEvents();
    }
};

void BM_menuBarDisplayText(benchmark::State& st)
{
    // The pinned token is the last of 500: the worst case for the pin scan.
    Fixture fixture(500);
    for (auto _ : st) {
        benchmark::DoNotOptimize(fixture.state->menuBarDisplayText());
    }
}
BENCHMARK(BM_menuBarDisplayText)->Unit(benchmark::kMicrosecond);

// The floor under the text above: the pinned token's symbol, price and change put into one
// string by QLocale and QString::number, with no scan for the pin and no rounding of our own.
void BM_menuBarDisplayTextReference(benchmark::State& st)
{
    Fixture fixture(500);
    const TokenSummary token = fixture.service->answer.constLast();
    const QLocale locale;
    for (auto _ : st) {
        const QString text = token.symbol + QLatin1Char(' ') + locale.toString(token.price, 'f', 2) + QLatin1Char(' ') +
                             (token.change24h > 0 ? QStringLiteral("+") : QString()) +
                             QString::number(token.change24h, 'f', 2) + QLatin1Char('%');
        benchmark::DoNotOptimize(text);
    }
}
BENCHMARK(BM_menuBarDisplayTextReference)->Unit(benchmark::kMicrosecond);

void BM_persist500(benchmark::State& st)
{
    Fixture fixture(500);
    for (auto _ : st) {
        fixture.state->persist();
        // QSettings writes its file from the event loop, as it does in the app after each change.
        QCoreApplication::processEvents();
    }
}
BENCHMARK(BM_persist500)->Unit(benchmark::kMillisecond);

// The floor under persist(): the same document, already built, serialised by QJsonDocument and
// written atomically by QSaveFile into the same kind of folder.
void BM_persist500Reference(benchmark::State& st)
{
    Fixture fixture(500);
    const auto encoded =
        StoredState{.watchlist = fixture.state->watchlistEntries(), .preferences = fixture.state->preferences()}
            .encode();
    const QJsonDocument document = QJsonDocument::fromJson(encoded.value_or(QByteArray()));
    if (!document.isObject()) {
        st.SkipWithError("the stored state did not encode");
        return;
    }
    const QString path = fixture.dir.filePath(QStringLiteral("reference.json"));
    for (auto _ : st) {
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(document.toJson(QJsonDocument::Compact)) < 0 ||
            !file.commit()) {
            st.SkipWithError("the file could not be written");
            break;
        }
    }
}
BENCHMARK(BM_persist500Reference)->Unit(benchmark::kMillisecond);

void BM_mergeRefresh500(benchmark::State& st)
{
    Fixture fixture(500);
    for (auto _ : st) {
        auto refresh = fixture.state->performRefresh(false);
        benchmark::DoNotOptimize(refresh.isReady());
    }
}
BENCHMARK(BM_mergeRefresh500)->Unit(benchmark::kMillisecond);

// The floor under a merge: the same 500 records assigned into a hash keyed by id, as a plain
// cache of the latest quotes would hold them.
void BM_mergeRefresh500Reference(benchmark::State& st)
{
    Fixture fixture(500);
    QHash<QString, TokenSummary> snapshots;
    for (const TokenSummary& token : fixture.service->answer) {
        snapshots.insert(token.id, token);
    }
    for (auto _ : st) {
        const QList<TokenSummary> answer = fixture.service->answer;
        for (const TokenSummary& token : answer) {
            snapshots.insert(token.id, token);
        }
        benchmark::DoNotOptimize(snapshots.size());
    }
}
BENCHMARK(BM_mergeRefresh500Reference)->Unit(benchmark::kMillisecond);

// A refresh of 200 tokens whose quotes are all newer than the last, with range(0) alerts to
// evaluate; with none, it is the reference the alerts' cost is read against.
void BM_refresh200WithAlerts(benchmark::State& st)
{
    Fixture fixture(200, int(st.range(0)));
    qint64 quotedAt = 1;
    for (auto _ : st) {
        st.PauseTiming();
        for (TokenSummary& token : fixture.service->answer) {
            token.quotedAt = quotedAt;
        }
        ++quotedAt;
        st.ResumeTiming();
        auto refresh = fixture.state->performRefresh(false);
        benchmark::DoNotOptimize(refresh.isReady());
    }
}
BENCHMARK(BM_refresh200WithAlerts)->Arg(0)->Arg(1000)->Unit(benchmark::kMicrosecond);

void BM_priceText(benchmark::State& st)
{
    for (auto _ : st) {
        benchmark::DoNotOptimize(AppState::priceText(75456.36));
    }
}
BENCHMARK(BM_priceText)->Unit(benchmark::kNanosecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
