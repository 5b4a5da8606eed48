#pragma once

#include "model/TokenSummary.h"
#include "support/Result.h"

#include <QCoroTask>
#include <QList>
#include <QString>

#include <stop_token>

// Where the app gets search results and quotes. Implementations keep no state between calls,
// and any number of calls may run at once. Arguments are taken by value: a call may outlive
// its caller's copies.
class MarketDataServing {
public:
    virtual ~MarketDataServing() = default;

    // Tokens matching the text, in the source's order. Never fails: trouble gives other data
    // (a fallback) or an empty list. A blank text gives an empty list at once.
    virtual QCoro::Task<QList<TokenSummary>> search(QString query, std::stop_token stop = {}) = 0;

    // Fresh records for the ids (compared in upper case); unknown ids are left out. May fail
    // with the service's, the transport's or the decoder's error. Stopping the token cancels
    // the call.
    virtual QCoro::Task<Result<QList<TokenSummary>>> refreshWatchlist(QList<QString> ids,
                                                                      std::stop_token stop = {}) = 0;
};
