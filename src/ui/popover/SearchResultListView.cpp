#include "ui/popover/SearchResultListView.h"

#include "ui/kit/AccessibleRole.h"
#include "ui/kit/FocusRing.h"
#include "ui/kit/Palette.h"
#include "ui/popover/SearchResultRowView.h"

#include <QKeyEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollArea>

#include <algorithm>

namespace {
// Rows this far beyond the visible part are made ahead of time, so scrolling never shows a gap.
constexpr int kOverscanScreens = 1;
} // namespace

SearchResultListView::SearchResultListView(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("searchResultList"));
    AccessibleRole::set(*this, QAccessible::List);
    setAccessibleName(tr("搜索结果"));
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

SearchResultListView::~SearchResultListView() = default;

int SearchResultListView::contentHeight() const
{
    const auto n = int(m_results.size());
    return n == 0 ? 0 : n * SearchResultRowView::rowHeight() + (n - 1) * kRowGap + kBottomPadding;
}

QSize SearchResultListView::sizeHint() const
{
    return {340 + 2 * kPaddingX, contentHeight()};
}

QSize SearchResultListView::minimumSizeHint() const
{
    return {0, contentHeight()};
}

QRect SearchResultListView::rowRect(int index) const
{
    const int step = SearchResultRowView::rowHeight() + kRowGap;
    return {kPaddingX, index * step, std::max(0, width() - 2 * kPaddingX), SearchResultRowView::rowHeight()};
}

QRect SearchResultListView::dividerRect(int index) const
{
    if (index < 0 || index >= m_results.size() - 1) {
        return {};
    }
    const QRect row = rowRect(index);
    const int left = kPaddingX + kDividerInset;
    const int top = row.bottom() + 1 + (kRowGap - kDividerHeight) / 2;
    return {left, top, std::max(0, width() - kPaddingX - kCardRadius - left), kDividerHeight};
}

SearchResultRowView* SearchResultListView::rowAt(int index) const
{
    return m_live.value(index, nullptr);
}

bool SearchResultListView::isAdded(const TokenSummary& token) const
{
    return m_addedIDs.contains(token.id.toUpper());
}

void SearchResultListView::setResults(const QList<TokenSummary>& results, const QSet<QString>& addedIDs)
{
    const bool sameResults = results == m_results;
    if (sameResults && addedIDs == m_addedIDs) {
        return;
    }
    const int oldHeight = contentHeight();
    m_results = results;
    m_addedIDs = addedIDs;
    if (!sameResults) {
        // Every row is rebound to its new token below; widgets are reused, not rebuilt.
        for (SearchResultRowView* row : std::as_const(m_live)) {
            row->hide();
            m_pool.append(row);
        }
        m_live.clear();
    }
    if (contentHeight() != oldHeight) {
        setFixedHeight(contentHeight());
    }
    materialize();
    update();
}

SearchResultRowView* SearchResultListView::takeRow()
{
    if (!m_pool.isEmpty()) {
        return m_pool.takeLast();
    }
    auto* row = new SearchResultRowView(this);
    connect(row, &SearchResultRowView::addRequested, this, &SearchResultListView::addRequested);
    return row;
}

void SearchResultListView::materialize()
{
    const int n = int(m_results.size());
    QRect visible = rect();
    if (QWidget* viewport = parentWidget()) {
        visible = QRect(-pos(), viewport->size()) & rect();
    }
    const int overscan = std::max(visible.height(), SearchResultRowView::rowHeight()) * kOverscanScreens;
    const int top = std::max(0, visible.top() - overscan);
    const int bottom = visible.isEmpty() ? -1 : visible.bottom() + overscan;
    const int step = SearchResultRowView::rowHeight() + kRowGap;
    const int first = n == 0 || bottom < top ? 0 : std::clamp(top / step, 0, n - 1);
    const int last = n == 0 || bottom < top ? -1 : std::clamp(bottom / step, 0, n - 1);

    for (auto it = m_live.begin(); it != m_live.end();) {
        if (it.key() < first || it.key() > last) {
            it.value()->hide();
            m_pool.append(it.value());
            it = m_live.erase(it);
        } else {
            ++it;
        }
    }
    for (int i = first; i <= last; ++i) {
        SearchResultRowView* row = m_live.value(i, nullptr);
        if (!row) {
            row = takeRow();
            m_live.insert(i, row);
        }
        const TokenSummary& token = m_results.at(i);
        row->setToken(token, isAdded(token));
        row->setGeometry(rowRect(i));
        row->show();
    }
}

void SearchResultListView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    materialize();
}

void SearchResultListView::moveEvent(QMoveEvent* event)
{
    // The scroll area scrolls by moving us inside its viewport.
    QWidget::moveEvent(event);
    materialize();
}

void SearchResultListView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    materialize();
}

void SearchResultListView::paintEvent(QPaintEvent* event)
{
    const int n = int(m_results.size());
    if (n < 2) {
        return;
    }
    const int step = SearchResultRowView::rowHeight() + kRowGap;
    const QRect exposed = event->rect();
    const int first = std::clamp(exposed.top() / step, 0, n - 1);
    const int last = std::clamp(exposed.bottom() / step, 0, n - 1);
    QPainter painter(this);
    for (int i = first; i <= last; ++i) {
        const QRect divider = dividerRect(i);
        if (!divider.isEmpty()) {
            painter.fillRect(divider, Palette::separator());
        }
    }
}

bool SearchResultListView::focusResult(int index)
{
    if (index < 0 || index >= m_results.size()) {
        return false;
    }
    const QRect target = rowRect(index);
    // The scroll area scrolls by moving us, which makes the rows that come into view.
    for (QWidget* parent = parentWidget(); parent; parent = parent->parentWidget()) {
        if (auto* scroll = qobject_cast<QScrollArea*>(parent)) {
            scroll->ensureVisible(target.center().x(), target.center().y(), 0, target.height() / 2 + kRowGap);
            break;
        }
    }
    materialize();
    SearchResultRowView* row = rowAt(index);
    if (!row) {
        return false;
    }
    FocusRing::markKeyboardMove(*this);
    row->setFocus(Qt::OtherFocusReason);
    return true;
}

void SearchResultListView::keyPressEvent(QKeyEvent* event)
{
    if (event->key() != Qt::Key_Up && event->key() != Qt::Key_Down) {
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
    int focused = -1;
    for (auto it = m_live.cbegin(); it != m_live.cend(); ++it) {
        if (it.value()->hasFocus()) {
            focused = it.key();
        }
    }
    if (event->key() == Qt::Key_Up && focused <= 0) {
        Q_EMIT upFromFirstRow();
        return;
    }
    focusResult(event->key() == Qt::Key_Down ? focused + 1 : focused - 1);
}
