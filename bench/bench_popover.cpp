// Speed of the popover: re-rendering 200 rows after a price refresh, and opening the add-token
// screen with 500 results.
#include "state/AppState.h"
#include "storage/DefaultsStore.h"
#include "storage/LocalStore.h"
#include "ui/kit/SpringAnimation.h"
#include "ui/popover/AddTokenSheet.h"
#include "ui/popover/MenuBarPopoverView.h"
#include "ui/popover/SearchResultListView.h"

#include <QApplication>
#include <QBoxLayout>
#include <QCoroTask>
#include <QHash>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>

#include <benchmark/benchmark.h>

#include <cmath>

namespace {

// Answers at once: searches with the prepared results, refreshes with prices that move on
// every call, so each refresh really changes every row.
class InstantService final : public MarketDataServing {
public:
    QList<TokenSummary> watched;
    QList<TokenSummary> results;
    int refreshes = 0;

    QCoro::Task<QList<TokenSummary>> search(QString, std::stop_token) override
    {
        // A local copy: co_return may move from what it is given.
        QList<TokenSummary> answer = results;
        co_return answer;
    }
    QCoro::Task<Result<QList<TokenSummary>>> refreshWatchlist(QList<QString>, std::stop_token) override
    {
        ++refreshes;
        QList<TokenSummary> answer = watched;
        for (qsizetype i = 0; i < answer.size(); ++i) {
            answer[i].price *= 1.0 + 0.001 * std::sin(refreshes + double(i));
            answer[i].change24h += 0.01 * refreshes;
        }
        co_return answer;
    }
};

class MemoryDefaults final : public DefaultsStore {
public:
    std::optional<QByteArray> data(const QString& key) const override
    {
        return values.contains(key) ? std::optional<QByteArray>(values.value(key)) : std::nullopt;
    }
    void set(const QByteArray& value, const QString& key) override { values.insert(key, value); }
    QHash<QString, QByteArray> values;
};

QList<TokenSummary> tokens(int count, const QString& prefix)
{
    QList<TokenSummary> list;
    for (int i = 0; i < count; ++i) {
        const QString id = QStringLiteral("%1%2").arg(prefix).arg(i);
        list.append(TokenSummary{id,
                                 id,
                                 QStringLiteral("Token %1").arg(i),
                                 std::nullopt,
                                 1000.0 + i,
                                 i % 5 - 2.0,
                                 {1, 2, 3, 4, 3, 5, 6},
                                 id.toLower(),
                                 std::nullopt});
    }
    return list;
}

struct Fixture {
    std::shared_ptr<InstantService> service = std::make_shared<InstantService>();
    std::unique_ptr<AppState> state;
    std::unique_ptr<MenuBarPopoverView> view;

    explicit Fixture(int watched, int results)
    {
        auto defaults = std::make_shared<MemoryDefaults>();
        StoredState document;
        for (int i = 0; i < watched; ++i) {
            document.watchlist.append(
                WatchlistEntry{WatchlistEntry::makeID(), QStringLiteral("TK%1").arg(i), i == 0, true, i});
        }
        // No periodic refresh during a run.
        document.preferences.refreshInterval = 300;
        auto store = std::make_shared<LocalStore>(defaults);
        store->save(document);
        service->watched = tokens(watched, QStringLiteral("TK"));
        service->results = tokens(results, QStringLiteral("RS"));
        state = std::make_unique<AppState>(service, store);
        settle();
        view = std::make_unique<MenuBarPopoverView>(*state);
        view->resize(MenuBarPopoverView::kHostedSize);
        view->show();
        settle();
    }
    ~Fixture()
    {
        view.reset();
        state.reset();
        settle();
    }

    static void settle()
    {
        for (int i = 0; i < 3; ++i) {
            QCoreApplication::processEvents();
        }
    }
};

// One refresh merges the quotes once; the popover's rows follow the model's dataChanged.
void priceRefreshRerender(benchmark::State& st)
{
    Fixture f(int(st.range(0)), 0);
    for (auto _ : st) {
        f.state->performRefresh(false);
        QCoreApplication::processEvents();
    }
    st.counters["rows"] = double(f.view->rows().size());
}
BENCHMARK(priceRefreshRerender)->Arg(200)->Unit(benchmark::kMillisecond);

// The same, with the visible part of the popover painted as the screen would show it.
void priceRefreshRerenderAndPaint(benchmark::State& st)
{
    Fixture f(int(st.range(0)), 0);
    for (auto _ : st) {
        f.state->performRefresh(false);
        QCoreApplication::processEvents();
        f.view->repaint();
    }
}
BENCHMARK(priceRefreshRerenderAndPaint)->Arg(200)->Unit(benchmark::kMillisecond);

// The floor under a price refresh: a plain window of the same size whose 200 rows show their
// figures in QLabels of fixed size and plain text, so a new text repaints the label and lays
// nothing out again. Each pass moves the prices as the service above does, formats them with
// QLocale and QString::number and sets the two texts of every row; the benchmarks then let the
// event loop run, and the second one repaints the window as well.
class PlainPriceList {
public:
    explicit PlainPriceList(int count)
        : tokens(::tokens(count, QStringLiteral("TK")))
    {
        window.resize(MenuBarPopoverView::kHostedSize);
        auto* scroll = new QScrollArea(&window);
        scroll->setWidgetResizable(true);
        auto* list = new QWidget;
        auto* rows = new QVBoxLayout(list);
        rows->setSpacing(0);
        for (const TokenSummary& token : tokens) {
            auto* row = new QWidget(list);
            row->setFixedHeight(56);
            auto* columns = new QHBoxLayout(row);
            columns->addWidget(new QLabel(token.symbol + QLatin1Char('\n') + token.name, row), 1);
            auto* figures = new QVBoxLayout;
            prices.append(new QLabel(row));
            changes.append(new QLabel(row));
            for (QLabel* label : {prices.constLast(), changes.constLast()}) {
                label->setFixedSize(92, 20);
                label->setTextFormat(Qt::PlainText);
                label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
                figures->addWidget(label);
            }
            columns->addLayout(figures);
            rows->addWidget(row);
        }
        scroll->setWidget(list);
        auto* layout = new QVBoxLayout(&window);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(scroll);
        refresh();
        window.show();
        Fixture::settle();
    }

    void refresh()
    {
        ++refreshes;
        for (qsizetype i = 0; i < tokens.size(); ++i) {
            TokenSummary& token = tokens[i];
            token.price *= 1.0 + 0.001 * std::sin(refreshes + double(i));
            token.change24h += 0.01 * refreshes;
            prices[i]->setText(locale.toString(token.price, 'f', 2));
            changes[i]->setText((token.change24h > 0 ? QStringLiteral("+") : QString()) +
                                QString::number(token.change24h, 'f', 2) + QLatin1Char('%'));
        }
    }

    QWidget window;
    QList<TokenSummary> tokens;
    QList<QLabel*> prices;
    QList<QLabel*> changes;
    QLocale locale;
    int refreshes = 0;
};

void priceRefreshRerenderReference(benchmark::State& st)
{
    PlainPriceList list(int(st.range(0)));
    for (auto _ : st) {
        list.refresh();
        QCoreApplication::processEvents();
    }
}
BENCHMARK(priceRefreshRerenderReference)->Arg(200)->Unit(benchmark::kMillisecond);

void priceRefreshRerenderAndPaintReference(benchmark::State& st)
{
    PlainPriceList list(int(st.range(0)));
    for (auto _ : st) {
        list.refresh();
        QCoreApplication::processEvents();
        list.window.repaint();
    }
}
BENCHMARK(priceRefreshRerenderAndPaintReference)->Arg(200)->Unit(benchmark::kMillisecond);

// From the add button to 500 results on screen: the sheet comes up, the search runs (the
// service answers at once), the results are laid out and painted.
void openAddTokenWithResults(benchmark::State& st)
{
    Fixture f(200, int(st.range(0)));
    AddTokenSheet* sheet = f.view->addTokenSheet();
    int round = 0;
    for (auto _ : st) {
        f.state->setIsSearchPresented(true);
        QCoreApplication::processEvents();
        f.state->setSearchQuery(QStringLiteral("rs"));
        f.state->runSearch(true);
        while (sheet->content() != AddTokenSheet::Content::Results) {
            QCoreApplication::processEvents();
        }
        f.view->repaint();

        st.PauseTiming();
        f.state->setIsSearchPresented(false);
        // Another result list next time, so no row is reused as it was.
        f.service->results = tokens(int(st.range(0)), (++round % 2) ? QStringLiteral("RT") : QStringLiteral("RS"));
        Fixture::settle();
        st.ResumeTiming();
    }
    st.counters["rowWidgets"] = double(sheet->resultList()->materializedCount());
}
BENCHMARK(openAddTokenWithResults)->Arg(500)->Unit(benchmark::kMillisecond);

// The floor under the step above: a plain window of the same size turns from one page to a
// QListWidget (an item view, so only the visible rows are laid out and painted, as ours are),
// fills it with the same 500 results as symbol and name in one insertion and is painted.
void openAddTokenWithResultsReference(benchmark::State& st)
{
    QWidget window;
    window.resize(MenuBarPopoverView::kHostedSize);
    auto* pages = new QStackedWidget(&window);
    pages->addWidget(new QWidget);
    auto* results = new QListWidget;
    // Every row is as tall as the next, so the view lays out 500 rows without measuring each.
    results->setUniformItemSizes(true);
    pages->addWidget(results);
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(pages);
    window.show();
    Fixture::settle();
    int round = 0;
    QList<TokenSummary> found = tokens(int(st.range(0)), QStringLiteral("RS"));
    for (auto _ : st) {
        pages->setCurrentIndex(1);
        QStringList texts;
        texts.reserve(found.size());
        for (const TokenSummary& token : found) {
            texts.append(token.symbol + QLatin1Char('\n') + token.name);
        }
        results->addItems(texts);
        QCoreApplication::processEvents();
        window.repaint();

        st.PauseTiming();
        pages->setCurrentIndex(0);
        results->clear();
        found = tokens(int(st.range(0)), (++round % 2) ? QStringLiteral("RT") : QStringLiteral("RS"));
        Fixture::settle();
        st.ResumeTiming();
    }
}
BENCHMARK(openAddTokenWithResultsReference)->Arg(500)->Unit(benchmark::kMillisecond);

// Scrolling the 500 results by a tenth of the viewport and painting: what a wheel step costs.
void scrollResults(benchmark::State& st)
{
    Fixture f(1, 500);
    f.state->setIsSearchPresented(true);
    Fixture::settle();
    f.state->setSearchQuery(QStringLiteral("rs"));
    f.state->runSearch(true);
    Fixture::settle();
    auto* scroll = f.view->findChild<QScrollArea*>(QStringLiteral("resultsScrollArea"));
    QScrollBar* bar = scroll->verticalScrollBar();
    const int step = std::max(1, scroll->viewport()->height() / 10);
    for (auto _ : st) {
        bar->setValue(bar->value() + step >= bar->maximum() ? 0 : bar->value() + step);
        f.view->repaint();
    }
}
BENCHMARK(scrollResults)->Unit(benchmark::kMicrosecond);

// Opening the popover for the first time on 200 tokens: every row is built.
void firstRenderOf200Rows(benchmark::State& st)
{
    for (auto _ : st) {
        Fixture f(200, 0);
        benchmark::DoNotOptimize(f.view->rows().size());
    }
}
BENCHMARK(firstRenderOf200Rows)->Unit(benchmark::kMillisecond);

} // namespace

namespace {

QtMessageHandler defaultMessageHandler = nullptr;

// The offscreen platform warns on every window that sets size hints; a line per iteration would
// bury the results and time the terminal.
void dropSizeHintWarnings(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (message.contains(QLatin1StringView("does not support propagateSizeHints"))) {
        return;
    }
    defaultMessageHandler(type, context, message);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    defaultMessageHandler = qInstallMessageHandler(dropSizeHintWarnings);
    QApplication app(argc, argv);
    SpringAnimation::setAnimationsEnabled(false);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
