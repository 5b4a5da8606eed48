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
