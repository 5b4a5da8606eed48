#include "testlib/StateHarness.h"
#include "ui/kit/SpringAnimation.h"
#include "ui/popover/AddTokenSheet.h"
#include "ui/popover/SearchResultListView.h"
#include "ui/popover/SearchResultRowView.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QVBoxLayout>

using namespace std::chrono_literals;
using Content = AddTokenSheet::Content;

namespace {

TokenSummary result(const QString& id)
{
    return FakeMarketDataService::token(id, 0);
}

// A state watching BTC whose first refresh has been answered.
AppState& started(StateHarness& h)
{
    h.storeEntries({QStringLiteral("BTC")});
    AppState& state = h.make();
    h.settle();
    h.service->answerRefresh(QList<TokenSummary>{FakeMarketDataService::token(QStringLiteral("BTC"), 100)});
    h.settle();
    return state;
}

void show(QWidget& widget)
{
    widget.resize(368, 620);
    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));
}

QString labelText(const QWidget& parent, const char* name)
{
    const auto* label = parent.findChild<QLabel*>(QLatin1String(name));
    return label && label->isVisibleTo(&parent) ? label->text() : QString();
}

// Types into the field as a user does, then lets the state's writes reach the sheet.
void type(QLineEdit* field, const QString& text)
{
    QTest::keyClicks(field, text);
    StateHarness::settle();
}

// Searches at once, as Return in the field does, and waits for the results to show.
void search(AddTokenSheet& sheet, const QString& text)
{
    sheet.searchField()->clear();
    type(sheet.searchField(), text);
    QTest::keyClick(sheet.searchField(), Qt::Key_Return);
    QTRY_COMPARE(sheet.content(), Content::Results);
}

// An add button as the user sees it: its label, and whether it can be pressed.
QString shown(const QAbstractButton* button)
{
    return button->text() + (button->isEnabled() ? QString() : QStringLiteral(" (disabled)"));
}

} // namespace

class TestAddTokenSheet : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { SpringAnimation::setAnimationsEnabled(false); }

    void showsItsFourStatesInOrder()
    {
        StateHarness h;
        AppState& state = started(h);
        AddTokenSheet sheet(state);
        show(sheet);
        QLineEdit* field = sheet.searchField();

        QCOMPARE(sheet.content(), Content::Prompt);
        QCOMPARE(field->placeholderText(), QStringLiteral("从所有代币中搜索！"));
        QCOMPARE(labelText(sheet, "searchPromptTitle"), QStringLiteral("搜索可现货交易的 USDT 币种"));
        QCOMPARE(labelText(sheet, "searchPromptSubtitle"), QStringLiteral("例如 BTC、ETH、SOL、DOGE"));

        // Waiting for the first results: the spinner.
        type(field, QStringLiteral("e"));
        QVERIFY(state.isSearching());
        QCOMPARE(sheet.content(), Content::Spinner);
        h.sleeper->advance(800ms);
        QTRY_COMPARE(h.service->searchCalls().size(), 1);
        h.service->answerSearch({result(QStringLiteral("ETH")), result(QStringLiteral("DOGE"))});
        QTRY_COMPARE(sheet.content(), Content::Results);
        QCOMPARE(sheet.resultList()->results().size(), 2);

        // A running search keeps the earlier results on screen, without a spinner. Return searches
        // at once, and the typed search it overtook never runs.
        type(field, QStringLiteral("x"));
        QVERIFY(state.isSearching());
        QCOMPARE(sheet.content(), Content::Results);
        QTest::keyClick(field, Qt::Key_Return);
        QTRY_COMPARE(h.service->searchCalls().size(), 2);
        QCOMPARE(h.service->searchCalls().at(1)->query, QStringLiteral("ex"));
        h.service->answerSearch({});
        QTRY_COMPARE(sheet.content(), Content::NoResults);
        h.sleeper->advance(800ms);
        h.settle();
        QCOMPARE(h.service->searchCalls().size(), 2);
        QCOMPARE(labelText(sheet, "noResultsTitle"), QStringLiteral("没有找到匹配结果"));
        QCOMPARE(labelText(sheet, "noResultsSubtitle"), QStringLiteral("试试更短的 symbol 或英文名称"));

        // A blank query shows the prompt, not the no-result message.
        field->selectAll();
        type(field, QStringLiteral("  "));
        QCOMPARE(state.searchQuery(), QStringLiteral("  "));
        QCOMPARE(sheet.content(), Content::Prompt);
        QCOMPARE(h.service->searchCalls().size(), 2);
    }

    void addButtonsFollowTheWatchlist()
    {
        StateHarness h;
        AppState& state = started(h);
        h.service->autoSearchAnswer = QList<TokenSummary>{result(QStringLiteral("btc")), result(QStringLiteral("ETH"))};
        AddTokenSheet sheet(state);
        show(sheet);
        search(sheet, QStringLiteral("t"));

        SearchResultListView* list = sheet.resultList();
        QAbstractButton* btc = list->rowAt(0)->addButton();
        QAbstractButton* eth = list->rowAt(1)->addButton();
        // A lower-case id still counts as listed.
        QCOMPARE((QStringList{shown(btc), shown(eth)}), (QStringList{"已添加 (disabled)", "添加"}));

        QTest::mouseClick(btc, Qt::LeftButton);
        QCOMPARE(state.watchlistEntries().size(), 1);
        QTest::mouseClick(eth, Qt::LeftButton);
        QCOMPARE(state.watchlistEntries().size(), 2);
        QCOMPARE(state.watchlistEntries().last().tokenID, QStringLiteral("ETH"));
        QCOMPARE(state.tokenSnapshots().value(QStringLiteral("ETH")), result(QStringLiteral("ETH")));
        // The row turns into a disabled "已添加" without leaving the sheet.
        QTRY_COMPARE(shown(eth), QStringLiteral("已添加 (disabled)"));
        QVERIFY(sheet.isVisible());
        QCOMPARE(sheet.content(), Content::Results);
        h.service->answerRefresh(QList<TokenSummary>{});
    }

    void dividersSeparateResultsButNotTheLast()
    {
        StateHarness h;
        AppState& state = started(h);
        AddTokenSheet sheet(state);
        show(sheet);
        SearchResultListView* list = sheet.resultList();

        h.service->autoSearchAnswer = QList<TokenSummary>{result("T0"), result("T1"), result("T2")};
        search(sheet, QStringLiteral("t"));
        QTRY_COMPARE(list->results().size(), 3);
        // Cards stand apart, a divider in the gap between two of them and none after the last.
        for (int i = 0; i < 2; ++i) {
            const QRect row = list->rowRect(i);
            const QRect next = list->rowRect(i + 1);
            QVERIFY(next.top() - row.bottom() - 1 >= 8);
            QVERIFY(list->dividerRect(i).top() > row.bottom() && list->dividerRect(i).bottom() < next.top());
        }
        QVERIFY(list->dividerRect(2).isEmpty());

        // A list longer than the area fades out at the bottom while there is more below.
        QList<TokenSummary> many;
        for (int i = 0; i < 20; ++i)
            many.append(result(QStringLiteral("M%1").arg(i)));
        h.service->autoSearchAnswer = many;
        search(sheet, QStringLiteral("m"));
        QTRY_COMPARE(list->results().size(), 20);
        auto* area = sheet.findChild<QScrollArea*>(QStringLiteral("resultsScrollArea"));
        QWidget* fade = sheet.findChild<QWidget*>(QStringLiteral("resultsBottomFade"));
        QTRY_VERIFY(fade->isVisible());
        QCOMPARE(fade->geometry().bottom(), area->viewport()->geometry().bottom());
        area->verticalScrollBar()->setValue(area->verticalScrollBar()->maximum());
        QVERIFY(!fade->isVisible());
        area->verticalScrollBar()->setValue(0);
        QVERIFY(fade->isVisible());
    }

    void comingOnScreenClearsTheSearchAndFocusesTheField()
    {
        StateHarness h;
        AppState& state = started(h);
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* other = new QLineEdit(&window);
        auto* sheet = new AddTokenSheet(state, &window);
        layout->addWidget(other);
        layout->addWidget(sheet);
        sheet->hide();
        show(window);
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        other->setFocus();
        QVERIFY(other->hasFocus());

        state.setSearchQuery(QStringLiteral("old"));
        sheet->show();
        QCOMPARE(state.searchQuery(), QString());
        QTRY_VERIFY(sheet->searchField()->hasFocus());
    }

    void longResultListsAreBuiltAsTheyScroll()
    {
        StateHarness h;
        AppState& state = started(h);
        QList<TokenSummary> results;
        for (int i = 0; i < 500; ++i) {
            results.append(result(QStringLiteral("T%1").arg(i)));
        }
        h.service->autoSearchAnswer = results;
        AddTokenSheet sheet(state);
        show(sheet);
        search(sheet, QStringLiteral("t"));

        SearchResultListView* list = sheet.resultList();
        QCOMPARE(list->height(), list->contentHeight());
        QVERIFY(list->materializedCount() < 40);
        QVERIFY(list->rowAt(0));
        QVERIFY(!list->rowAt(499));

        auto* scroll = sheet.findChild<QScrollArea*>(QStringLiteral("resultsScrollArea"));
        scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum());
        QVERIFY(list->rowAt(499));
        QCOMPARE(list->rowAt(499)->token().id, QStringLiteral("T499"));
        QVERIFY(!list->rowAt(0));
        QVERIFY(list->materializedCount() < 40);
    }
};

QTEST_MAIN(TestAddTokenSheet)
#include "tst_addtokensheet.moc"
