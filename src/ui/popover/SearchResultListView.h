#pragma once

#include "model/TokenSummary.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QWidget>

class SearchResultRowView;

// The add-token sheet's result list, placed in a scroll area. It is as tall as all its rows,
// but only the rows in or near the visible part exist as widgets; scrolling creates the ones
// that come into view and recycles the ones that leave it, so a long result list shows at once.
class SearchResultListView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kPaddingX = 14;
    static constexpr int kDividerInset = 86;
    static constexpr int kDividerHeight = 1;
    // Room between two cards, with the divider in its middle, and below the last card.
    static constexpr int kRowGap = 9;
    static constexpr int kBottomPadding = 14;
    // The cards' corner radius: a divider stops where the card's straight edge does.
    static constexpr int kCardRadius = 12;

    explicit SearchResultListView(QWidget* parent = nullptr);
    ~SearchResultListView() override;

    // `addedIDs` holds the upper-cased ids of the watchlist.
    void setResults(const QList<TokenSummary>& results, const QSet<QString>& addedIDs);
    const QList<TokenSummary>& results() const { return m_results; }

    // Where row `index` sits, in the list's coordinates.
    QRect rowRect(int index) const;
    // The divider under row `index`; empty for the last row.
    QRect dividerRect(int index) const;
    // The row widget showing `index`, if it exists now.
    SearchResultRowView* rowAt(int index) const;
    int materializedCount() const { return int(m_live.size()); }
    int contentHeight() const;
    // Scrolls row `index` into view and gives it the keyboard focus; false when there is none.
    bool focusResult(int index);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    void addRequested(const TokenSummary& token);
    // Up on the first row: the focus goes back above the list.
    void upFromFirstRow();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void showEvent(QShowEvent* event) override;
    // Up and Down move the focus between the results.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void materialize();
    SearchResultRowView* takeRow();
    bool isAdded(const TokenSummary& token) const;

    QList<TokenSummary> m_results;
    QSet<QString> m_addedIDs;
    QHash<int, SearchResultRowView*> m_live;
    QList<SearchResultRowView*> m_pool;
};
