#pragma once

#include <QCache>
#include <QDeadlineTimer>
#include <QHash>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>

class QNetworkAccessManager;
class QNetworkReply;

// Loads remote images (token logos) over the application's one network manager, with an
// in-memory cache. Only http and https URLs are fetched. Concurrent requests for one URL share a
// single download. Every failure (status, transport, timeout, oversized or undecodable body)
// ends in a null image and is remembered for a while, so a broken logo is not fetched again on
// every repaint of the list.
class ImageLoader : public QObject {
    Q_OBJECT
public:
    struct Limits {
        qint64 maxBodyBytes = 4 * 1024 * 1024;
        // Larger images are refused before decoding; smaller ones are stored at most this large.
        int maxSourceDimension = 4096;
        int maxStoredDimension = 256;
        int allocationLimitMegabytes = 128;
        qint64 cacheBytes = 16 * 1024 * 1024;
        std::chrono::milliseconds timeout{30000};
        std::chrono::milliseconds retryFailuresAfter{60000};
    };

    // Called with the image, or a null image on failure.
    using Callback = std::function<void(const QImage&)>;

    explicit ImageLoader(QNetworkAccessManager* network, QObject* parent = nullptr);
    ImageLoader(QNetworkAccessManager* network, Limits limits, QObject* parent = nullptr);
    ~ImageLoader() override;

    // The loader views use when none is handed to them; the application sets it at start-up.
    static void setShared(ImageLoader* loader);
    static ImageLoader* shared();

    static bool isFetchable(const QUrl& url);

    // The cached image, or a null image.
    QImage cachedImage(const QUrl& url) const;

    // Calls `done` once from the event loop (never inside this call), and not at all if `context`
    // is destroyed first. Returns false, without calling back, for a URL that is not fetched.
    bool load(const QUrl& url, const QObject* context, Callback done);

private:
    struct Waiter {
        QPointer<const QObject> context;
        Callback done;
    };
    struct Pending {
        QPointer<QNetworkReply> reply;
        quint64 id = 0;
        QByteArray body;
        QList<Waiter> waiters;
        bool tooLarge = false;
    };

    void start(const QUrl& url);
    void receive(const QUrl& url);
    void finish(const QUrl& url, quint64 id);
    void deliverLater(const QObject* context, Callback done, const QImage& image);
    bool recentlyFailed(const QUrl& url);
    void rememberFailure(const QUrl& url);
    QImage decode(const QByteArray& bytes) const;

    QPointer<QNetworkAccessManager> m_network;
    Limits m_limits;
    QHash<QUrl, std::shared_ptr<Pending>> m_pending;
    QCache<QUrl, QImage> m_cache;
    quint64 m_lastId = 0;
    QHash<QUrl, QDeadlineTimer> m_failures;
};
