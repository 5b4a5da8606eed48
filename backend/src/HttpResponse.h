#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <chrono>
#include <utility>

// An answer before the connection frames it. The connection adds Date, Content-Length and
// Connection, turns a matching If-None-Match into 304 and drops the body for HEAD.
struct HttpResponse {
    int status = 200;
    QByteArray contentType = QByteArrayLiteral("application/json; charset=utf-8");
    QByteArray body;
    QByteArray etag;         // with its quotes; empty: none
    QByteArray cacheControl; // empty: none
    QList<std::pair<QByteArray, QByteArray>> headers;
    bool closesConnection = false;

    static HttpResponse json(int status, QByteArray body);
    // {"error": {"status": 400, "message": "..."}}, never cached.
    static HttpResponse error(int status, const QString& message);

    // Public caching for maxAge seconds, with a strong validator computed from the body. When the
    // data may stand in for staleLeft seconds after that (we serve them so ourselves while a
    // refresh runs or the exchange fails), caches in front are told they may do the same.
    void setCacheable(std::chrono::seconds maxAge, std::chrono::seconds staleLeft = std::chrono::seconds(0));
    // The Cache-Control part of setCacheable() alone, for a body whose tag is known.
    void setCacheControl(std::chrono::seconds maxAge, std::chrono::seconds staleLeft);

    static QByteArray reasonPhrase(int status);
    // The body's validator: the same bytes always give the same tag, across restarts too.
    static QByteArray entityTag(const QByteArray& body);
    // RFC 9110 If-None-Match: "*" or a list of tags, compared weakly.
    static bool noneMatchHits(const QByteArray& ifNoneMatch, const QByteArray& etag);
    // IMF-fixdate of the current second, e.g. "Sun, 06 Nov 1994 08:49:37 GMT".
    static QByteArray currentDate();
};
