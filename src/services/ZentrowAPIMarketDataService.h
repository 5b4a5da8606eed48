#pragma once

#include "services/MarketDataServing.h"
#include "services/MockMarketDataService.h"

#include <QByteArray>
#include <QNetworkAccessManager>
#include <QPointer>
#include <QUrl>

#include <chrono>
#include <memory>

// The backend's HTTP client: GET /api/search?q=... and GET /api/quotes?ids=..., both answering
// {"data": [...]}. Searches that the backend cannot answer are answered by the fallback;
// quote failures go to the caller unchanged.
//
// Calls only copy the object's fields when they start, so the object may be destroyed while
// calls are suspended; the network manager is watched and a call fails cleanly if it is gone.
class ZentrowAPIMarketDataService final : public MarketDataServing {
public:
    static constexpr std::chrono::milliseconds kDefaultTransferTimeout{60'000};
    // Answers are a few hundred kilobytes at most; anything this big is refused unread.
    static constexpr qint64 kMaximumBodySize = 16 * 1024 * 1024;

    ZentrowAPIMarketDataService(QUrl baseURL, QNetworkAccessManager* session,
                                std::shared_ptr<MockMarketDataService> fallback,
                                std::chrono::milliseconds transferTimeout = kDefaultTransferTimeout);

    QCoro::Task<QList<TokenSummary>> search(QString query, std::stop_token stop = {}) override;
    QCoro::Task<Result<QList<TokenSummary>>> refreshWatchlist(QList<QString> ids, std::stop_token stop = {}) override;

    const QUrl& baseURL() const { return m_baseURL; }

    // The two request URLs; nullopt when there is nothing to ask for.
    static std::optional<QUrl> searchURL(const QUrl& baseURL, const QString& query);
    static std::optional<QUrl> quotesURL(const QUrl& baseURL, const QList<QString>& ids);

    // The body of an answer, read strictly and mapped to records in the order of "data".
    static Result<QList<TokenSummary>> decodeSearch(const QByteArray& body);
    static Result<QList<TokenSummary>> decodeQuotes(const QByteArray& body);

private:
    QUrl m_baseURL;
    QPointer<QNetworkAccessManager> m_session;
    std::shared_ptr<MockMarketDataService> m_fallback;
    std::chrono::milliseconds m_transferTimeout;
};
