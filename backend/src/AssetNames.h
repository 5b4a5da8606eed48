#pragma once

#include <QHash>
#include <QString>

#include <optional>

// Display names (and, where known, logo URLs) of well-known assets. The exchange's listing
// carries only tickers, so every other asset is shown under its ticker.
class AssetNames {
public:
    struct Entry {
        QString name;
        QString logoUrl; // empty: none
        int rank = 0;    // position in the table; well-known assets sort first in searches
    };

    // Reads {"assets": [{"id": "BTC", "name": "Bitcoin", "logoUrl": "https://..."}]}; "logoUrl"
    // is optional and must be an absolute http or https URL. On failure says why in *problem.
    static std::optional<AssetNames> fromJson(const QByteArray& json, QString* problem);
    static std::optional<AssetNames> fromFile(const QString& path, QString* problem);
    // The table compiled into the binary.
    static AssetNames shipped();

    // Looked up by the upper-cased id.
    const Entry* find(const QString& id) const;
    qsizetype size() const { return m_entries.size(); }

private:
    QHash<QString, Entry> m_entries;
};
