#pragma once

#include "AssetNames.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

// One spot pair quoted in USDT, as the app knows it: the token id is the pair's base asset.
struct Asset {
    QString id;   // "BTC"
    QString pair; // "BTCUSDT", the exchange's symbol
    QString name; // from the name table, else the id
    QString logoUrl;
    int rank = 0; // name-table position; assets outside the table come after all of them

    QString foldedId;
    QString foldedName;
    // {"id":..,"symbol":..,"name":..[,"logoUrl":..] without the closing brace: both answers
    // start their items with it.
    QByteArray identityJson;
};

// The searchable list of tradable USDT pairs. Immutable once built; shared by the answers that
// point into it.
class Catalogue {
public:
    struct Listing {
        QString pair;
        QString baseAsset;
    };

    Catalogue(const QList<Listing>& listings, const AssetNames& names);

    // By id in any letter case (the caller upper-cases); null when not listed.
    const Asset* find(const QString& upperId) const;
    // Symbol or name containing the text, ignoring case: exact symbol first, then symbol
    // prefixes, name prefixes, and other matches; well-known assets before others within each.
    QList<const Asset*> search(const QString& text, qsizetype limit) const;

    const QList<Asset>& assets() const { return m_assets; }

private:
    QList<Asset> m_assets;
    QHash<QString, qsizetype> m_byId;
};
