#include "testlib/StateHarness.h"

#include <QTest>

using namespace std::chrono_literals;

class SearchTest : public QObject {
    Q_OBJECT

private:
    static void type(AppState& state, const QString& text)
    {
        state.setSearchQuery(text);
        state.runSearch(false);
    }

private Q_SLOTS:
    void typingDebouncesToOneCallWithTheWholeText()
    {
        StateHarness h;
        AppState& state = h.make();
        h.settle();
        const QString word = QStringLiteral("ether");
        for (qsizetype i = 1; i <= word.size(); ++i) {
            type(state, word.left(i));
            h.settle();
            h.sleeper->advance(500ms);
            h.settle();
            QVERIFY(state.isSearching());
        }
        QVERIFY(h.service->searchCalls().isEmpty());
        h.sleeper->advance(299ms);
        h.settle();
        QVERIFY(h.service->searchCalls().isEmpty());
        h.sleeper->advance(1ms);
        QTRY_COMPARE(h.service->searchCalls().size(), 1);
        QCOMPARE(h.service->searchCalls().first()->query, QStringLiteral("ether"));
        QVERIFY(state.isSearching());

        h.service->answerSearch({TokenSummary::fallbackCatalog().at(1)});
        QTRY_VERIFY(!state.isSearching());
        QCOMPARE(state.searchResults().size(), 1);
    }

    void blankTextClearsAtOnce()
    {
        StateHarness h;
        AppState& state = h.make();
        h.settle();
        state.setSearchQuery(QStringLiteral("sol"));
        state.runSearch(true);
        QTRY_COMPARE(h.service->searchCalls().size(), 1);
        h.service->answerSearch({TokenSummary::fallbackCatalog().at(2)});
        QTRY_COMPARE(state.searchResults().size(), 1);

        // Cleared while a typed search debounces: nothing is written later.
        type(state, QStringLiteral("so"));
        h.settle();
        type(state, QStringLiteral(" \n\t"));
        QVERIFY(state.searchResults().isEmpty());
        QVERIFY(!state.isSearching());
        h.sleeper->advance(5s);
        h.settle();
        QCOMPARE(h.service->searchCalls().size(), 1);

        // Cleared while the service works: the list empties now and the late answer is dropped.
        state.setSearchQuery(QStringLiteral("ada"));
        state.runSearch(true);
        QTRY_COMPARE(h.service->searchCalls().size(), 2);
        type(state, QString());
        QVERIFY(state.searchResults().isEmpty());
        h.settle();
        QVERIFY(h.service->searchCalls().last()->stopped);
        QVERIFY(state.searchResults().isEmpty());
        QVERIFY(!state.isSearching());
    }

    void aNewerSearchOwnsTheResults()
    {
        StateHarness h;
        AppState& state = h.make();
        h.settle();
        state.setSearchQuery(QStringLiteral("a"));
        state.runSearch(true);
        QTRY_COMPARE(h.service->searchCalls().size(), 1);
        state.setSearchQuery(QStringLiteral("ad"));
        state.runSearch(true);
        QTRY_COMPARE(h.service->searchCalls().size(), 2);
        QVERIFY(h.service->searchCalls().first()->stopped || h.service->searchCalls().first()->wakeup->isWoken());
        h.service->answerSearch({TokenSummary::fallbackCatalog().at(5)});
        QTRY_VERIFY(!state.isSearching());
        QCOMPARE(state.searchResults().first().id, QStringLiteral("ADA"));
    }
};

QTEST_GUILESS_MAIN(SearchTest)
#include "tst_search.moc"
