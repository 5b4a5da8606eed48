#pragma once

#include "support/Result.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

// One token's identity and market numbers, as the services return it and the views show it.
// Never stored; lives in the state's snapshots and search results.
struct TokenSummary {
    QString id;
    QString symbol;
    QString name;
    std::optional<qint64> rank;
    double price = 0;
    double change24h = 0;
    QList<double> trend7d;
    QString iconSeed;
    std::optional<QUrl> logoURL;

    friend bool operator==(const TokenSummary& a, const TokenSummary& b);

    // The six built-in tokens that answer searches when the backend cannot.
    static const QList<TokenSummary>& fallbackCatalog();

    // Absent rank and logo are left out; a non-finite number cannot be written.
    std::optional<QJsonObject> toJson() const;
    static Result<TokenSummary> fromJson(const QJsonObject& object);
};

size_t qHash(const TokenSummary& token, size_t seed = 0);
