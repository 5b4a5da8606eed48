#pragma once

#include "state/AppState.h"
#include "testlib/FakeMarketDataService.h"
#include "testlib/ManualSleeper.h"
#include "testlib/MemoryDefaultsStore.h"

#include <QList>

#include <memory>

// An AppState over a fake service, an in-memory store and a virtual clock.
struct StateHarness {
    std::shared_ptr<FakeMarketDataService> service = std::make_shared<FakeMarketDataService>();
    std::shared_ptr<MemoryDefaultsStore> defaults = std::make_shared<MemoryDefaultsStore>();
    std::shared_ptr<ManualSleeper> sleeper = std::make_shared<ManualSleeper>();
    std::unique_ptr<AppState> state;

    StateHarness() = default;
    StateHarness(const StateHarness&) = delete;
    StateHarness& operator=(const StateHarness&) = delete;
    // Stopped tasks resume from the event loop: let them end before the test does.
    ~StateHarness();

    void storeDocument(const StoredState& document);
    void storeEntries(const QList<QString>& tokenIDs, int pinnedIndex = 0);
    AppState& make();
    // Makes the state and answers its start-up refresh.
    AppState& start(Result<QList<TokenSummary>> first = QList<TokenSummary>{});
    // One periodic refresh: the loop's `wait` ends and the refresh gets `answer`.
    void periodicRefresh(std::chrono::milliseconds wait, Result<QList<TokenSummary>> answer);
    // The document the state last wrote.
    StoredState stored() const;
    // Lets queued starts and resumed tasks run.
    static void settle();
};
