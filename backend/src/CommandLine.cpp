#include "CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <limits>
#include <optional>

namespace {

std::optional<qint64> wholeNumber(const QString& text, qint64 minimum, qint64 maximum)
{
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (!ok || value < minimum || value > maximum) {
        return std::nullopt;
    }
    return value;
}

CommandLineExit usageError(const QString& problem)
{
    return {2, QStringLiteral("zentrow-backend: %1\nRun 'zentrow-backend --help' for the options.\n").arg(problem)};
}

} // namespace

std::variant<BackendSettings, CommandLineExit> parseCommandLine(const QStringList& arguments)
{
    const BackendSettings defaults;
    const auto number = [](auto value) { return QString::number(value); };

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Market data backend for Zentrow: answers GET /api/search?q= and GET /api/quotes?ids= from the "
                       "exchange's public spot API, with caching."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version and exit."));
    const QCommandLineOption address(QStringLiteral("address"),
                                     QStringLiteral("Address to listen on (default 127.0.0.1; plain HTTP, so keep it "
                                                    "on loopback unless a TLS proxy fronts it)."),
                                     QStringLiteral("ip"), defaults.address.toString());
    const QCommandLineOption port(
        QStringLiteral("port"),
        QStringLiteral("Port to listen on; 0 picks a free one (default %1).").arg(BackendSettings::kDefaultPort),
        QStringLiteral("n"), number(defaults.port));
    const QCommandLineOption upstream(QStringLiteral("upstream"),
                                      QStringLiteral("Base URL of the exchange's REST API (default %1).")
                                          .arg(QLatin1String(BackendSettings::kDefaultUpstream)),
                                      QStringLiteral("url"), defaults.upstream.toString());
    const QCommandLineOption catalogueTtl(
        QStringLiteral("catalogue-ttl"),
        QStringLiteral("Seconds the list of tradable pairs is kept (default %1).").arg(defaults.catalogueTtl.count()),
        QStringLiteral("s"), number(defaults.catalogueTtl.count()));
    const QCommandLineOption priceTtl(
        QStringLiteral("price-ttl"),
        QStringLiteral("Seconds prices and 24-hour changes are kept (default %1).").arg(defaults.priceTtl.count()),
        QStringLiteral("s"), number(defaults.priceTtl.count()));
    const QCommandLineOption trendTtl(
        QStringLiteral("trend-ttl"),
        QStringLiteral("Seconds the seven-day trends are kept (default %1).").arg(defaults.trendTtl.count()),
        QStringLiteral("s"), number(defaults.trendTtl.count()));
    const QCommandLineOption staleFor(
        QStringLiteral("stale-for"),
        QStringLiteral("Seconds past their lifetime that cached data is still served while the exchange fails; "
                       "after that requests get 503 (default %1).")
            .arg(defaults.staleFor.count()),
        QStringLiteral("s"), number(defaults.staleFor.count()));
    const QCommandLineOption retryDelay(
        QStringLiteral("retry-delay"),
        QStringLiteral("Seconds to leave the exchange alone after a failed call (default %1).")
            .arg(defaults.retryDelay.count()),
        QStringLiteral("s"), number(defaults.retryDelay.count()));
    const QCommandLineOption timeout(
        QStringLiteral("upstream-timeout"),
        QStringLiteral("Seconds an exchange call may take in all before it fails; also the "
                       "longest a client waits for the exchange (default %1).")
            .arg(defaults.upstreamTimeout.count() / 1000),
        QStringLiteral("s"), number(defaults.upstreamTimeout.count() / 1000));
    const QCommandLineOption maxConnections(
        QStringLiteral("max-connections"),
        QStringLiteral("Client connections served at once; when full, the one idle longest gives way, "
                       "and if all are at work newcomers get 503 (default %1).")
            .arg(defaults.maxConnections),
        QStringLiteral("n"), number(defaults.maxConnections));
    const QCommandLineOption names(
        QStringLiteral("names"),
        QStringLiteral("JSON file of display names and logos to use instead of the built-in table: "
                       "{\"assets\": [{\"id\": \"BTC\", \"name\": \"Bitcoin\", \"logoUrl\": \"https://...\"}]}."),
        QStringLiteral("file"));
    const QCommandLineOption exitWhenIdle(
        QStringLiteral("exit-when-idle"),
        QStringLiteral("Quit after this many seconds without any client connection; 0 never quits (default 0). "
                       "Meant for a backend that systemd starts on demand through zentrow-backend.socket."),
        QStringLiteral("s"), number(defaults.exitWhenIdle.count()));
    parser.addOptions({help, version, address, port, upstream, catalogueTtl, priceTtl, trendTtl, staleFor, retryDelay,
                       timeout, maxConnections, names, exitWhenIdle});
    const QCommandLineOption perAddress(
        QStringLiteral("max-connections-per-address"),
        QStringLiteral("Client connections from one address served at once (default a quarter of "
                       "--max-connections); behind a proxy, raise it."),
        QStringLiteral("n"));
    parser.addOption(perAddress);

    if (!parser.parse(arguments)) {
        return usageError(parser.errorText());
    }
    if (parser.isSet(help)) {
        return CommandLineExit{0, parser.helpText()};
    }
    if (parser.isSet(version)) {
        return CommandLineExit{0, QStringLiteral("zentrow-backend %1\n").arg(QCoreApplication::applicationVersion())};
    }
    if (!parser.positionalArguments().isEmpty()) {
        return usageError(QStringLiteral("Unexpected argument: %1").arg(parser.positionalArguments().first()));
    }

    BackendSettings settings;
    if (!settings.address.setAddress(parser.value(address))) {
        return usageError(
            QStringLiteral("--address needs an IPv4 or IPv6 address, not '%1'.").arg(parser.value(address)));
    }
    if (const auto value = wholeNumber(parser.value(port), 0, 65535)) {
        settings.port = static_cast<quint16>(*value);
    } else {
        return usageError(QStringLiteral("--port needs a number from 0 to 65535."));
    }

    const QUrl upstreamUrl(parser.value(upstream), QUrl::StrictMode);
    const QString scheme = upstreamUrl.scheme();
    if (!upstreamUrl.isValid() || upstreamUrl.host().isEmpty() || upstreamUrl.hasQuery() || upstreamUrl.hasFragment() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        return usageError(QStringLiteral("--upstream needs an absolute http or https URL without query, "
                                         "not '%1'.")
                              .arg(parser.value(upstream)));
    }
    settings.upstream = upstreamUrl;

    // A day is far beyond any sensible lifetime, and keeps every later sum of durations small.
    constexpr qint64 kDay = 24 * 3600;
    struct Duration {
        const QCommandLineOption& option;
        std::chrono::seconds& target;
        qint64 minimum;
    };
    std::chrono::seconds timeoutSeconds{};
    const Duration durations[] = {
        {catalogueTtl, settings.catalogueTtl, 1}, {priceTtl, settings.priceTtl, 1},
        {trendTtl, settings.trendTtl, 1},         {staleFor, settings.staleFor, 0},
        {retryDelay, settings.retryDelay, 0},     {timeout, timeoutSeconds, 1},
        {exitWhenIdle, settings.exitWhenIdle, 0},
    };
    for (const Duration& duration : durations) {
        const auto value = wholeNumber(parser.value(duration.option), duration.minimum, kDay);
        if (!value) {
            return usageError(QStringLiteral("--%1 needs a whole number of seconds from %2 to %3.")
                                  .arg(duration.option.names().constFirst())
                                  .arg(duration.minimum)
                                  .arg(kDay));
        }
        duration.target = std::chrono::seconds(*value);
    }
    settings.upstreamTimeout = timeoutSeconds;

    if (const auto value = wholeNumber(parser.value(maxConnections), 1, 100'000)) {
        settings.maxConnections = static_cast<int>(*value);
    } else {
        return usageError(QStringLiteral("--max-connections needs a number from 1 to 100000."));
    }
    if (parser.isSet(perAddress)) {
        if (const auto value = wholeNumber(parser.value(perAddress), 1, settings.maxConnections)) {
            settings.maxConnectionsPerAddress = static_cast<int>(*value);
        } else {
            return usageError(QStringLiteral("--max-connections-per-address needs a number from 1 to "
                                             "--max-connections (%1).")
                                  .arg(settings.maxConnections));
        }
    }
    settings.namesFile = parser.value(names);
    return settings;
}
