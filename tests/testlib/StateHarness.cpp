#include "testlib/StateHarness.h"

#include <QCoreApplication>
#include <QTest>

StateHarness::~StateHarness()
{
    state.reset();
    settle();
}

void StateHarness::storeDocument(const StoredState& document)
{
    defaults->values.insert(LocalStore::kStorageKey, *document.encode());
}

void StateHarness::storeEntries(const QList<QString>& tokenIDs, int pinnedIndex)
{
    StoredState document;
    for (qsizetype i = 0; i < tokenIDs.size(); ++i) {
        document.watchlist.append(WatchlistEntry{WatchlistEntry::makeID(), tokenIDs.at(i), i == pinnedIndex, true, i});
    }
    storeDocument(document);
}

AppState& StateHarness::make()
{
    state = std::make_unique<AppState>(service, std::make_shared<LocalStore>(defaults), sleeper);
    return *state;
}

AppState& StateHarness::start(Result<QList<TokenSummary>> first)
{
    make();
    settle();
    service->answerRefresh(std::move(first));
    settle();
    return *state;
}

void StateHarness::periodicRefresh(std::chrono::milliseconds wait, Result<QList<TokenSummary>> answer)
{
    const auto calls = service->refreshCalls().size();
    sleeper->advance(wait);
    QTRY_COMPARE(service->refreshCalls().size(), calls + 1);
    service->answerRefresh(std::move(answer));
    QTRY_VERIFY(!state->isRefreshingWatchlist());
    settle();
}

StoredState StateHarness::stored() const
{
    return LocalStore(defaults).load();
}

void StateHarness::settle()
{
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::processEvents();
    }
}
