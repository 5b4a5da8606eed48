#include "Catalogue.h"

#include "JsonText.h"

#include <algorithm>
#include <limits>

namespace {

constexpr int kUnranked = std::numeric_limits<int>::max();

QByteArray identityJson(const Asset& asset)
{
    QByteArray json;
    json.append(R"({"id":)");
    JsonText::appendString(json, asset.id);
    json.append(R"(,"symbol":)");
    JsonText::appendString(json, asset.id);
    json.append(R"(,"name":)");
    JsonText::appendString(json, asset.name);
    if (!asset.logoUrl.isEmpty()) {
        json.append(R"(,"logoUrl":)");
        JsonText::appendString(json, asset.logoUrl);
    }
    return json;
}

} // namespace

Catalogue::Catalogue(const QList<Listing>& listings, const AssetNames& names)
{
    m_assets.reserve(listings.size());
    for (const Listing& listing : listings) {
        const QString key = listing.baseAsset.toUpper();
        if (key.isEmpty() || m_byId.contains(key)) {
            continue;
        }
        Asset asset;
        asset.id = listing.baseAsset;
        asset.pair = listing.pair;
        if (const AssetNames::Entry* entry = names.find(key)) {
            asset.name = entry->name;
            asset.logoUrl = entry->logoUrl;
            asset.rank = entry->rank;
        } else {
            asset.name = listing.baseAsset;
            asset.rank = kUnranked;
        }
        asset.foldedId = asset.id.toCaseFolded();
        asset.foldedName = asset.name.toCaseFolded();
        asset.identityJson = identityJson(asset);
        m_byId.insert(key, m_assets.size());
        m_assets.append(std::move(asset));
    }
}

const Asset* Catalogue::find(const QString& upperId) const
{
    const auto found = m_byId.constFind(upperId);
    return found == m_byId.constEnd() ? nullptr : &m_assets.at(*found);
}

QList<const Asset*> Catalogue::search(const QString& text, qsizetype limit) const
{
    const QString folded = text.toCaseFolded();
    if (folded.isEmpty() || limit <= 0) {
        return {};
    }
    struct Match {
        int tier;
        const Asset* asset;
    };
    QList<Match> matches;
    for (const Asset& asset : m_assets) {
        int tier = -1;
        if (asset.foldedId == folded) {
            tier = 0;
        } else if (asset.foldedId.startsWith(folded)) {
            tier = 1;
        } else if (asset.foldedName.startsWith(folded)) {
            tier = 2;
        } else if (asset.foldedId.contains(folded) || asset.foldedName.contains(folded)) {
            tier = 3;
        }
        if (tier >= 0) {
            matches.append({tier, &asset});
        }
    }
    const auto before = [](const Match& a, const Match& b) {
        if (a.tier != b.tier) {
            return a.tier < b.tier;
        }
        if (a.asset->rank != b.asset->rank) {
            return a.asset->rank < b.asset->rank;
        }
        if (a.asset->id.size() != b.asset->id.size()) {
            return a.asset->id.size() < b.asset->id.size();
        }
        return a.asset->id < b.asset->id;
    };
    const qsizetype count = std::min(limit, matches.size());
    std::partial_sort(matches.begin(), matches.begin() + count, matches.end(), before);
    QList<const Asset*> found;
    found.reserve(count);
    for (qsizetype i = 0; i < count; ++i) {
        found.append(matches.at(i).asset);
    }
    return found;
}
