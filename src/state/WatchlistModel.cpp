#include "state/WatchlistModel.h"

#include "state/AppState.h"

#include <algorithm>

WatchlistModel::WatchlistModel(const AppState& state, QObject* parent)
    : QAbstractListModel(parent)
    , m_state(state)
{
}

int WatchlistModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_state.watchlistEntries().size());
}

QVariant WatchlistModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
        return {};
    }
    const WatchlistEntry& entry = m_state.watchlistEntries().at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return m_state.displayedToken(entry.tokenID).symbol;
    case EntryIDRole:
        return entry.id;
    case TokenIDRole:
        return entry.tokenID;
    case TokenRole:
        return QVariant::fromValue(m_state.displayedToken(entry.tokenID));
    case PriceTextRole:
        return AppState::priceText(m_state.displayedToken(entry.tokenID).price);
    case ChangeTextRole:
        return AppState::changeText(m_state.displayedToken(entry.tokenID).change24h);
    case IsPinnedRole:
        return entry.isPinnedToMenuBar;
    case IsExpandedRole:
        return m_state.expandedTokenID() == entry.tokenID;
    case AlertMarkRole:
        return QVariant::fromValue(m_state.alertMark(entry.tokenID));
    default:
        return {};
    }
}

QHash<int, QByteArray> WatchlistModel::roleNames() const
{
    QHash<int, QByteArray> names = QAbstractListModel::roleNames();
    names.insert(EntryIDRole, "entryID");
    names.insert(TokenIDRole, "tokenID");
    names.insert(TokenRole, "token");
    names.insert(PriceTextRole, "priceText");
    names.insert(ChangeTextRole, "changeText");
    names.insert(IsPinnedRole, "isPinned");
    names.insert(IsExpandedRole, "isExpanded");
    names.insert(AlertMarkRole, "alertMark");
    return names;
}

int WatchlistModel::rowOfEntry(const QString& entryID) const
{
    const auto& entries = m_state.watchlistEntries();
    const auto it = std::find_if(entries.cbegin(), entries.cend(),
                                 [&entryID](const WatchlistEntry& entry) { return entry.id == entryID; });
    return it == entries.cend() ? -1 : int(std::distance(entries.cbegin(), it));
}

TokenSummary WatchlistModel::token(int row) const
{
    return m_state.displayedToken(m_state.watchlistEntries().at(row).tokenID);
}

void WatchlistModel::rowsChanged(QList<int> rows, const QList<int>& roles)
{
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    for (qsizetype i = 0; i < rows.size();) {
        qsizetype end = i;
        while (end + 1 < rows.size() && rows.at(end + 1) == rows.at(end) + 1) {
            ++end;
        }
        Q_EMIT dataChanged(index(rows.at(i)), index(rows.at(end)), roles);
        i = end + 1;
    }
}
