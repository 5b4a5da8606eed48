// What a user waits for on the GUI thread when reordering or pinning in a long watchlist: the
// operation, its save, and the status item brought up to date, as the event loop runs them.
#include "services/MarketDataServing.h"
#include "shell/AppActions.h"
#include "shell/StatusBarController.h"
#include "shell/StatusItem.h"
#include "state/AppState.h"
#include "storage/LocalStore.h"
#include "storage/SettingsDefaultsStore.h"
#include "ui/kit/SpringAnimation.h"
#include "ui/popover/MenuBarPopoverView.h"

#include <QApplication>
#include <QCoroTask>
#include <QStandardItemModel>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

constexpr int kTokens = 500;

class SilentService final : public MarketDataServing {
public:
    QList<TokenSummary> answer;
    QCoro::Task<QList<TokenSummary>> search(QString, std::stop_token) override { co_return QList<TokenSummary>{}; }
    QCoro::Task<Result<QList<TokenSummary>>> refreshWatchlist(QList<QString>, std::stop_token) override
    {
        co_return QList<TokenSummary>(answer);
    }
};

// Keeps what it is given, as a real item would before drawing it.
class CountingStatusItem final : public StatusItem {
public:
    void setTitle(const QString& title) override { m_title = title; }
    QString title() const override { return m_title; }
    void setContent(const StatusItemContent& content) override
    {
        m_content = content;
        m_title = content.title;
        ++updates;
    }
    int updates = 0;

private:
    QString m_title;
    StatusItemContent m_content;
};

QString tokenID(int i)
{
    return QStringLiteral("TK%1").arg(i);
}

struct Fixture {
    QTemporaryDir dir;
    std::shared_ptr<SilentService> service = std::make_shared<SilentService>();
    std::unique_ptr<AppState> state;
    CountingStatusItem item;
    AppActions actions;
    std::unique_ptr<StatusBarController> controller;
    std::unique_ptr<MenuBarPopoverView> popover;

    // With `withPopover`, the popover is open on the 500 rows too.
    explicit Fixture(bool withPopover)
    {
        auto defaults = std::make_shared<SettingsDefaultsStore>(dir.filePath(QStringLiteral("bench.conf")));
        StoredState document;
        for (int i = 0; i < kTokens; ++i) {
            document.watchlist.append(WatchlistEntry{WatchlistEntry::makeID(), tokenID(i), i == 0, true, i});
            service->answer.append(TokenSummary{tokenID(i),
                                                tokenID(i),
                                                QStringLiteral("Token %1").arg(i),
                                                std::nullopt,
                                                1000.0 + i,
                                                -1.5,
                                                {1, 2, 3, 4, 5, 6, 7},
                                                tokenID(i).toLower(),
                                                std::nullopt});
        }
        auto store = std::make_shared<LocalStore>(defaults);
        store->save(document);
        state = std::make_unique<AppState>(service, store);
        controller = std::make_unique<StatusBarController>(*state, item, actions, [](AppState&) { return nullptr; });
        settle();
        if (withPopover) {
            SpringAnimation::setAnimationsEnabled(false);
            popover = std::make_unique<MenuBarPopoverView>(*state);
            popover->resize(MenuBarPopoverView::kHostedSize);
            popover->show();
            settle();
        }
    }

    // Runs what the operation queued: the status item's update and the settings write.
    static void settle()
    {
        for (int i = 0; i < 3; ++i) {
            QCoreApplication::processEvents();
        }
    }
};

void moveTokenToTop(benchmark::State& st)
{
    Fixture f(st.range(0) != 0);
    const int before = f.item.updates;
    for (auto _ : st) {
        // The last token comes to the top: every row below moves down by one.
        f.state->moveTokenToTop(f.state->watchlistEntries().constLast().tokenID);
        Fixture::settle();
    }
    st.counters["status updates/op"] = double(f.item.updates - before) / double(st.iterations());
}
BENCHMARK(moveTokenToTop)->ArgName("popover")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void pinToMenuBar(benchmark::State& st)
{
    Fixture f(st.range(0) != 0);
    const int before = f.item.updates;
    int i = 0;
    for (auto _ : st) {
        f.state->pinToMenuBar(tokenID(i++ % 2 == 0 ? kTokens - 1 : 0));
        Fixture::settle();
    }
    st.counters["status updates/op"] = double(f.item.updates - before) / double(st.iterations());
}
BENCHMARK(pinToMenuBar)->ArgName("popover")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The reference: a plain QStandardItemModel of the same 500 rows moving its last row to the top.
void moveTokenToTopReference(benchmark::State& st)
{
    QStandardItemModel model;
    for (int i = 0; i < kTokens; ++i) {
        model.appendRow(new QStandardItem(tokenID(i)));
    }
    for (auto _ : st) {
        model.moveRow(QModelIndex(), kTokens - 1, QModelIndex(), 0);
        QCoreApplication::processEvents();
    }
}
BENCHMARK(moveTokenToTopReference)->Unit(benchmark::kMillisecond);

// The reference for a pin: the same model writing one flag on every row.
void pinToMenuBarReference(benchmark::State& st)
{
    QStandardItemModel model;
    for (int i = 0; i < kTokens; ++i) {
        model.appendRow(new QStandardItem(tokenID(i)));
    }
    int pinned = 0;
    for (auto _ : st) {
        pinned = pinned == 0 ? kTokens - 1 : 0;
        for (int row = 0; row < kTokens; ++row) {
            model.setData(model.index(row, 0), row == pinned, Qt::UserRole);
        }
        QCoreApplication::processEvents();
    }
}
BENCHMARK(pinToMenuBarReference)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
