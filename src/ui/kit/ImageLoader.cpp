#include "ui/kit/ImageLoader.h"

#include <QBuffer>
#include <QImageReader>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include <algorithm>

namespace {

QPointer<ImageLoader> g_shared;

constexpr int kMaxRedirects = 5;
// Broken URLs are few; past this many the oldest knowledge is simply dropped.
constexpr qsizetype kMaxRememberedFailures = 256;

bool isHttp(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

} // namespace

ImageLoader::ImageLoader(QNetworkAccessManager* network, QObject* parent)
    : ImageLoader(network, Limits{}, parent)
{
}

ImageLoader::ImageLoader(QNetworkAccessManager* network, Limits limits, QObject* parent)
    : QObject(parent)
    , m_network(network)
    , m_limits(limits)
    , m_cache(std::max<qint64>(limits.cacheBytes, 0))
{
}

ImageLoader::~ImageLoader()
{
    // The replies belong to the network manager, which outlives us; stop them reporting back.
    const auto pending = std::exchange(m_pending, {});
    for (const auto& entry : pending) {
        if (QNetworkReply* reply = entry->reply) {
            disconnect(reply, nullptr, this, nullptr);
            reply->abort();
            reply->deleteLater();
        }
    }
}

void ImageLoader::setShared(ImageLoader* loader)
{
    g_shared = loader;
}

ImageLoader* ImageLoader::shared()
{
    return g_shared;
}

bool ImageLoader::isFetchable(const QUrl& url)
{
    return url.isValid() && isHttp(url) && !url.host().isEmpty();
}

QImage ImageLoader::cachedImage(const QUrl& url) const
{
    const QImage* image = m_cache.object(url);
    return image ? *image : QImage();
}

bool ImageLoader::load(const QUrl& url, const QObject* context, Callback done)
{
    if (!isFetchable(url) || !context || !done)
        return false;
    if (const QImage* image = m_cache.object(url)) {
        deliverLater(context, std::move(done), *image);
        return true;
    }
    if (recentlyFailed(url) || !m_network) {
        deliverLater(context, std::move(done), QImage());
        return true;
    }
    auto it = m_pending.find(url);
    if (it != m_pending.end() && !(*it)->reply) {
        // Its reply vanished with the network manager without finishing; start over.
        finish(url, (*it)->id);
        it = m_pending.find(url);
    }
    if (it == m_pending.end()) {
        it = m_pending.insert(url, std::make_shared<Pending>());
        (*it)->waiters.append({context, std::move(done)});
        start(url);
    } else {
        (*it)->waiters.append({context, std::move(done)});
    }
    return true;
}

void ImageLoader::start(const QUrl& url)
{
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(kMaxRedirects);
    request.setTransferTimeout(int(m_limits.timeout.count()));
    QNetworkReply* reply = m_network->get(request);
    const auto pending = m_pending.value(url);
    pending->reply = reply;
    pending->id = ++m_lastId;
    const quint64 id = pending->id;

    connect(reply, &QNetworkReply::readyRead, this, [this, url] { receive(url); });
    connect(reply, &QNetworkReply::finished, this, [this, url, id] { finish(url, id); });
    // A reply deleted with its network manager may never finish; its waiters still get an answer.
    connect(reply, &QObject::destroyed, this, [this, url, id] { finish(url, id); });
    // The transfer timeout only notices silence; a server that trickles is cut off here.
    QTimer::singleShot(m_limits.timeout, reply, [reply] { reply->abort(); });
}

void ImageLoader::receive(const QUrl& url)
{
    const auto pending = m_pending.value(url);
    if (!pending || !pending->reply)
        return;
    QNetworkReply* reply = pending->reply;
    const QVariant declared = reply->header(QNetworkRequest::ContentLengthHeader);
    const qint64 incoming = reply->bytesAvailable();
    if ((declared.isValid() && declared.toLongLong() > m_limits.maxBodyBytes) ||
        pending->body.size() + incoming > m_limits.maxBodyBytes) {
        pending->tooLarge = true;
        reply->abort();
        return;
    }
    pending->body.append(reply->read(incoming));
}

void ImageLoader::finish(const QUrl& url, quint64 id)
{
    const auto it = m_pending.constFind(url);
    if (it == m_pending.constEnd() || (*it)->id != id)
        return;
    const std::shared_ptr<Pending> pending = *it;
    m_pending.erase(it);
    QImage image;
    if (QNetworkReply* reply = pending->reply) {
        reply->deleteLater();
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const bool ok = reply->error() == QNetworkReply::NoError && status >= 200 && status < 300 &&
                        isHttp(reply->url()) && !pending->tooLarge;
        if (ok) {
            const QByteArray rest = reply->readAll();
            if (pending->body.size() + rest.size() <= m_limits.maxBodyBytes) {
                pending->body.append(rest);
                image = decode(pending->body);
            }
        }
    }
    pending->body.clear();

    if (image.isNull()) {
        rememberFailure(url);
    } else {
        m_cache.insert(url, new QImage(image), std::max<qsizetype>(image.sizeInBytes(), 1));
    }

    // A callback may start new loads or destroy views; work from our own copy of the list.
    const QPointer<ImageLoader> self(this);
    for (const Waiter& waiter : std::as_const(pending->waiters)) {
        if (!self)
            return;
        if (waiter.context)
            waiter.done(image);
    }
}

void ImageLoader::deliverLater(const QObject* context, Callback done, const QImage& image)
{
    QTimer::singleShot(0, context, [done = std::move(done), image] { done(image); });
}

bool ImageLoader::recentlyFailed(const QUrl& url)
{
    const auto it = m_failures.constFind(url);
    if (it == m_failures.constEnd())
        return false;
    if (!it->hasExpired())
        return true;
    m_failures.erase(it);
    return false;
}

void ImageLoader::rememberFailure(const QUrl& url)
{
    if (m_failures.size() >= kMaxRememberedFailures)
        m_failures.clear();
    m_failures.insert(url, QDeadlineTimer(m_limits.retryFailuresAfter));
}

QImage ImageLoader::decode(const QByteArray& bytes) const
{
    QBuffer buffer;
    buffer.setData(bytes);
    if (!buffer.open(QIODevice::ReadOnly))
        return {};
    QImageReader reader(&buffer);
    reader.setAllocationLimit(m_limits.allocationLimitMegabytes);
    reader.setAutoTransform(true);

    // The header alone says how large the image is; a huge one is refused before any pixel is
    // allocated.
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty() || size.width() > m_limits.maxSourceDimension ||
        size.height() > m_limits.maxSourceDimension)
        return {};
    const QSize stored =
        size.boundedTo({m_limits.maxStoredDimension, m_limits.maxStoredDimension}) == size
            ? size
            : size.scaled(m_limits.maxStoredDimension, m_limits.maxStoredDimension, Qt::KeepAspectRatio);
    if (stored != size && reader.supportsOption(QImageIOHandler::ScaledSize))
        reader.setScaledSize(stored.expandedTo({1, 1}));

    QImage image = reader.read();
    if (image.isNull())
        return {};
    if (image.width() > m_limits.maxStoredDimension || image.height() > m_limits.maxStoredDimension)
        image = image.scaled(m_limits.maxStoredDimension, m_limits.maxStoredDimension, Qt::KeepAspectRatio,
                             Qt::SmoothTransformation);
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}
