#include "HttpResponse.h"

#include "JsonText.h"

#include <QDateTime>
#include <QLocale>

#include <ctime>

HttpResponse HttpResponse::json(int status, QByteArray body)
{
    HttpResponse response;
    response.status = status;
    response.body = std::move(body);
    return response;
}

HttpResponse HttpResponse::error(int status, const QString& message)
{
    QByteArray body = R"({"error":{"status":)" + QByteArray::number(status) + R"(,"message":)";
    JsonText::appendString(body, message);
    body.append("}}");
    HttpResponse response = json(status, std::move(body));
    response.cacheControl = QByteArrayLiteral("no-store");
    return response;
}

void HttpResponse::setCacheable(std::chrono::seconds maxAge, std::chrono::seconds staleLeft)
{
    setCacheControl(maxAge, staleLeft);
    etag = entityTag(body);
}

void HttpResponse::setCacheControl(std::chrono::seconds maxAge, std::chrono::seconds staleLeft)
{
    cacheControl = "public, max-age=" + QByteArray::number(static_cast<qint64>(std::max<qint64>(0, maxAge.count())));
    if (staleLeft.count() > 0) {
        const QByteArray stale = QByteArray::number(static_cast<qint64>(staleLeft.count()));
        // Past their lifetime the data are refreshed before anyone waits for them again.
        if (maxAge.count() > 0) {
            cacheControl.append(", stale-while-revalidate=").append(stale);
        }
        cacheControl.append(", stale-if-error=").append(stale);
    }
}

QByteArray HttpResponse::entityTag(const QByteArray& body)
{
    // 64-bit FNV-1a: cheap next to writing the body, and stable across processes, so a cache in
    // front of several instances sees the same tag for the same answer.
    quint64 hash = 0xcbf29ce484222325ULL;
    for (const char c : body) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ULL;
    }
    return '"' + QByteArray::number(hash, 16).rightJustified(16, '0') + '"';
}

bool HttpResponse::noneMatchHits(const QByteArray& ifNoneMatch, const QByteArray& etag)
{
    if (etag.isEmpty()) {
        return false;
    }
    const QByteArrayView opaque = QByteArrayView(etag).sliced(etag.startsWith("W/") ? 2 : 0);
    for (const QByteArray& item : ifNoneMatch.split(',')) {
        QByteArrayView candidate = QByteArrayView(item).trimmed();
        if (candidate == "*") {
            return true;
        }
        if (candidate.startsWith("W/")) {
            candidate = candidate.sliced(2);
        }
        if (candidate == opaque) {
            return true;
        }
    }
    return false;
}

QByteArray HttpResponse::reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 304:
        return "Not Modified";
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 413:
        return "Content Too Large";
    case 414:
        return "URI Too Long";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 501:
        return "Not Implemented";
    case 503:
        return "Service Unavailable";
    case 505:
        return "HTTP Version Not Supported";
    default:
        return "Status";
    }
}

QByteArray HttpResponse::currentDate()
{
    // Formatting a date costs more than the rest of a small answer; it changes once a second.
    static std::time_t cachedSecond = 0;
    static QByteArray cached;
    const std::time_t now = std::time(nullptr);
    if (now != cachedSecond || cached.isEmpty()) {
        cachedSecond = now;
        cached = QLocale::c()
                     .toString(QDateTime::fromSecsSinceEpoch(now, Qt::UTC), QStringLiteral("ddd, dd MMM yyyy hh:mm:ss"))
                     .toLatin1() +
                 " GMT";
    }
    return cached;
}
