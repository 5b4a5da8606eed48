#pragma once

#include "model/TokenSummary.h"

#include <QAbstractListModel>
#include <QList>

class AppState;

// The watchlist as rows, one per entry in display order, for views that follow it row by row.
// AppState owns it and changes the list only through it: adds, removals and moves arrive as row
// inserts, removals and moves; a quote merge, a pin or the expanded row as dataChanged naming
// the roles that changed. A row is known by its entry id, so a token listed twice has two.
class WatchlistModel final : public QAbstractListModel {
    Q_OBJECT

public:
    enum Role {
        EntryIDRole = Qt::UserRole + 1,
        TokenIDRole,
        // The TokenSummary the row shows; before its first quote, a record of the id alone.
        TokenRole,
        PriceTextRole,
        ChangeTextRole,
        IsPinnedRole,
        IsExpandedRole,
        // The row's bell: a PriceAlerts::Mark.
        AlertMarkRole,
    };
    Q_ENUM(Role)

    explicit WatchlistModel(const AppState& state, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

    // The row of an entry, or -1.
    int rowOfEntry(const QString& entryID) const;
    TokenSummary token(int row) const;

private:
    friend class AppState;
    // One dataChanged per run of neighbouring rows.
    void rowsChanged(QList<int> rows, const QList<int>& roles);

    const AppState& m_state;
};
