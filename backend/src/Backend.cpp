#include "Backend.h"

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
    m_cache =
        MarketCache::create(std::make_unique<UpstreamClient>(m_settings.upstream, m_settings.upstreamTimeout, m_clock),
                            *std::move(names), cacheSettings, m_clock);
    m_api = std::make_unique<ApiService>(m_cache);

    HttpLimits limits;
    limits.maxConnections = m_settings.maxConnections;
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
