#include "ExchangeFormat.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

#include <cmath>

namespace {

std::optional<QJsonDocument> parse(const QByteArray& body, QString* problem)
{
    QJsonParseError error{};
    QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError) {
        *problem = QStringLiteral("not JSON: %1").arg(error.errorString());
        return std::nullopt;
    }
    return document;
}

// The exchange writes decimals as strings; a plain number is accepted too.
std::optional<double> decimal(const QJsonValue& value)
{
    double number = 0;
    if (value.isString()) {
        bool ok = false;
        number = value.toString().toDouble(&ok);
        if (!ok) {
            return std::nullopt;
        }
    } else if (value.isDouble()) {
        number = value.toDouble();
    } else {
        return std::nullopt;
    }
    if (!std::isfinite(number)) {
        return std::nullopt;
    }
    return number;
}

QString errorMessage(const QJsonObject& object)
{
    const QString message = object.value(QLatin1String("msg")).toString();
    return message.isEmpty() ? QStringLiteral("unexpected JSON object")
                             : QStringLiteral("exchange said: %1").arg(message);
}

} // namespace

std::optional<QList<Catalogue::Listing>> ExchangeFormat::usdtListings(const QByteArray& body, QString* problem)
{
    const std::optional<QJsonDocument> document = parse(body, problem);
    if (!document) {
        return std::nullopt;
    }
    const QJsonValue symbols = document->object().value(QLatin1String("symbols"));
    if (!symbols.isArray()) {
        *problem = QStringLiteral("exchange information without a \"symbols\" array");
        return std::nullopt;
    }
    QList<Catalogue::Listing> listings;
    for (const QJsonValue& value : symbols.toArray()) {
        const QJsonObject item = value.toObject();
        const QJsonValue symbol = item.value(QLatin1String("symbol"));
        const QJsonValue base = item.value(QLatin1String("baseAsset"));
        if (!symbol.isString() || !base.isString() || base.toString().isEmpty() ||
            item.value(QLatin1String("quoteAsset")).toString() != kQuoteAsset ||
            item.value(QLatin1String("status")).toString() != QLatin1String("TRADING") ||
            item.value(QLatin1String("isSpotTradingAllowed")).toBool(true) == false) {
            continue;
        }
        // A comma could never be asked for in a quotes request.
        if (base.toString().contains(QLatin1Char(','))) {
            continue;
        }
        listings.append({symbol.toString(), base.toString()});
    }
    return listings;
}

std::optional<QHash<QString, ExchangeFormat::Ticker>> ExchangeFormat::tickers(const QByteArray& body, QString* problem)
{
    const std::optional<QJsonDocument> document = parse(body, problem);
    if (!document) {
        return std::nullopt;
    }
    if (!document->isArray()) {
        *problem = errorMessage(document->object());
        return std::nullopt;
    }
    QHash<QString, Ticker> found;
    for (const QJsonValue& value : document->array()) {
        const QJsonObject item = value.toObject();
        const QJsonValue symbol = item.value(QLatin1String("symbol"));
        const std::optional<double> price = decimal(item.value(QLatin1String("lastPrice")));
        const std::optional<double> change = decimal(item.value(QLatin1String("priceChangePercent")));
        if (symbol.isString() && price && change) {
            found.insert(symbol.toString(), Ticker{*price, *change, decimal(item.value(QLatin1String("highPrice"))),
                                                   decimal(item.value(QLatin1String("lowPrice"))),
                                                   decimal(item.value(QLatin1String("quoteVolume"))),
                                                   decimal(item.value(QLatin1String("priceChange")))});
        }
    }
    return found;
}

std::optional<QList<double>> ExchangeFormat::closePrices(const QByteArray& body, QString* problem)
{
    const std::optional<QJsonDocument> document = parse(body, problem);
    if (!document) {
        return std::nullopt;
    }
    if (!document->isArray()) {
        *problem = errorMessage(document->object());
        return std::nullopt;
    }
    constexpr qsizetype kCloseColumn = 4;
    QList<double> closes;
    for (const QJsonValue& row : document->array()) {
        const std::optional<double> close = decimal(row.toArray().at(kCloseColumn));
        if (!row.isArray() || !close) {
            *problem = QStringLiteral("a kline without a close price");
            return std::nullopt;
        }
        closes.append(*close);
    }
    return closes;
}

QByteArray ExchangeFormat::tickerQuery(const QStringList& pairs)
{
    QByteArray list = "[";
    for (qsizetype i = 0; i < pairs.size(); ++i) {
        if (i > 0) {
            list.append(',');
        }
        list.append('"').append(pairs.at(i).toUtf8()).append('"');
    }
    list.append(']');
    return "symbols=" + QUrl::toPercentEncoding(QString::fromUtf8(list), ",");
}

QByteArray ExchangeFormat::klinesQuery(const QString& pair, QByteArrayView interval, int limit)
{
    return "symbol=" + QUrl::toPercentEncoding(pair) + "&interval=" + interval.toByteArray() +
           "&limit=" + QByteArray::number(limit);
}
