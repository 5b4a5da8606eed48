#include "Backend.h"

#include <algorithm>

Backend::Backend(BackendSettings settings, Clock clock, QObject* parent)
    : QObject(parent)
    , m_settings(std::move(settings))
    , m_clock(std::move(clock))
{
}

Backend::~Backend() = default;

bool Backend::start(QString* problem)
{
    std::optional<AssetNames> names =
        m_settings.namesFile.isEmpty() ? AssetNames::shipped() : AssetNames::fromFile(m_settings.namesFile, problem);
    if (!names) {
        return false;
    }
    MarketCache::Settings cacheSettings;
    cacheSettings.catalogueTtl = m_settings.catalogueTtl;
    cacheSettings.priceTtl = m_settings.priceTtl;
    cacheSettings.trendTtl = m_settings.trendTtl;
    cacheSettings.staleFor = m_settings.staleFor;
    cacheSettings.retryDelay = m_settings.retryDelay;
    cacheSettings.waitLimit = m_settings.upstreamTimeout;
    m_cache =
        MarketCache::create(std::make_unique<UpstreamClient>(m_settings.upstream, m_settings.upstreamTimeout, m_clock),
                            *std::move(names), cacheSettings, m_clock);
    m_api = std::make_unique<ApiService>(m_cache);

    HttpLimits limits;
    limits.maxConnections = m_settings.maxConnections;
    limits.maxConnectionsPerAddress = m_settings.maxConnectionsPerAddress > 0
                                          ? m_settings.maxConnectionsPerAddress
                                          : std::max(1, m_settings.maxConnections / 4);
    ApiService* api = m_api.get();
    m_server =
        std::make_unique<HttpServer>([api](HttpRequest request) { return api->handle(std::move(request)); }, limits);
    if (m_settings.listeningSocket >= 0) {
        if (!m_server->adoptListeningSocket(m_settings.listeningSocket)) {
            *problem = QStringLiteral("cannot serve on the socket from systemd: %1").arg(m_server->errorString());
            return false;
        }
        m_settings.address = m_server->address();
        return true;
    }
    if (!m_server->listen(m_settings.address, m_settings.port)) {
        *problem = m_server->serverError() == QAbstractSocket::AddressInUseError
                       ? QStringLiteral("port %2 on %1 is already in use")
                             .arg(m_settings.address.toString())
                             .arg(m_settings.port)
                       : QStringLiteral("cannot listen on %1 port %2: %3")
                             .arg(m_settings.address.toString())
                             .arg(m_settings.port)
                             .arg(m_server->errorString());
        return false;
    }
    return true;
}

void Backend::stop()
{
    if (m_stopping.isActive()) {
        return;
    }
    m_stopStarted = std::chrono::steady_clock::now();
    if (m_server) {
        m_server->stop();
    }
    m_stopping.setInterval(std::chrono::milliseconds(10));
    connect(&m_stopping, &QTimer::timeout, this, &Backend::checkStopped, Qt::UniqueConnection);
    m_stopping.start();
}

void Backend::checkStopped()
{
    const auto elapsed = std::chrono::steady_clock::now() - m_stopStarted;
    const bool serverIdle = !m_server || m_server->connectionCount() == 0;
    const bool cacheIdle = !m_cache || m_cache->isIdle();
    if (!cacheIdle && !m_exchangeDropped && elapsed > kStopGrace / 2) {
        // Requests still waiting for the exchange answer now, from what is cached or with 503.
        m_cache->stop();
        m_exchangeDropped = true;
    }
    if (!serverIdle && !m_connectionsDropped && elapsed > kStopGrace * 3 / 4) {
        // Clients that do not take their answers are not waited for.
        m_server->abortAll();
        m_connectionsDropped = true;
    }
    if ((serverIdle && cacheIdle) || elapsed > kStopGrace) {
        m_stopping.stop();
        Q_EMIT stopped();
    }
}

HttpServer* Backend::server() const
{
    return m_server.get();
}

quint16 Backend::port() const
{
    return m_server ? m_server->port() : 0;
}

QUrl Backend::url() const
{
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(m_settings.address.toString());
    url.setPort(port());
    return url;
}
