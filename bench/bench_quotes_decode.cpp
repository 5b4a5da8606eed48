#include "services/ZentrowAPIMarketDataService.h"
#include "support/JsonReader.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>

#include <benchmark/benchmark.h>

namespace {

constexpr int kItems = 5000;

// A quotes answer as the backend writes it: compact, prices in cents, a seven-sample trend and,
// when asked for, a logo URL.
QByteArray quotesAnswer(int count, bool withLogos)
{
    QByteArray body = R"({"data":[)";
    for (int i = 0; i < count; ++i) {
        if (i > 0) {
            body += ',';
        }
        const QByteArray symbol = "TOK" + QByteArray::number(i);
        const double price = 1000.0 + i * 0.37;
        body += R"({"id":")" + symbol + R"(","symbol":")" + symbol + R"(","name":"Token )" + QByteArray::number(i) +
                R"(",)";
        if (withLogos) {
            body += R"("logoUrl":"https://cdn.example/logos/)" + symbol.toLower() + R"(.png",)";
        }
        body += R"("price":)" + QByteArray::number(price, 'f', 2) + R"(,"change24h":-2.05,"trend7d":[)";
        for (int sample = 0; sample < 7; ++sample) {
            body += (sample > 0 ? "," : "") + QByteArray::number(price * (0.94 + sample * 0.01), 'f', 2);
        }
        body += "]}";
    }
    body += "]}";
    return body;
}

// The whole step: parse, check every member, map to records. Argument: with logos or not.
void decodeQuotes(benchmark::State& state)
{
    const QByteArray body = quotesAnswer(kItems, state.range(0) != 0);
    for (auto _ : state) {
        Result<QList<TokenSummary>> tokens = ZentrowAPIMarketDataService::decodeQuotes(body);
        if (!tokens || tokens.value().size() != kItems) {
            state.SkipWithError("the answer did not decode");
            break;
        }
        benchmark::DoNotOptimize(tokens);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * body.size());
}
BENCHMARK(decodeQuotes)->ArgName("logos")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

// The floor under the step above: Qt's JSON parser alone on the same answer.
void parseOnly(benchmark::State& state)
{
    const QByteArray body = quotesAnswer(kItems, true);
    for (auto _ : state) {
        Result<QJsonObject> root = parseJsonObject(body);
        benchmark::DoNotOptimize(root);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * body.size());
}
BENCHMARK(parseOnly)->Unit(benchmark::kMillisecond);

// The reference the step above is read against: QJsonDocument::fromJson of the same bytes and
// nothing else. Argument: with logos or not.
void decodeQuotesReference(benchmark::State& state)
{
    const QByteArray body = quotesAnswer(kItems, state.range(0) != 0);
    for (auto _ : state) {
        const QJsonDocument document = QJsonDocument::fromJson(body);
        benchmark::DoNotOptimize(document);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * body.size());
}
BENCHMARK(decodeQuotesReference)->ArgName("logos")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

// Parse and map to the same records with plain QJsonValue reads: no checks, no error paths. What
// decodeQuotes adds on top of this is its checking of every member.
void decodeQuotesUncheckedReference(benchmark::State& state)
{
    const QByteArray body = quotesAnswer(kItems, state.range(0) != 0);
    for (auto _ : state) {
        const QJsonArray data = QJsonDocument::fromJson(body).object().value(QLatin1StringView("data")).toArray();
        QList<TokenSummary> tokens;
        tokens.reserve(data.size());
        for (const QJsonValue& value : data) {
            const QJsonObject object = value.toObject();
            TokenSummary token;
            const QString symbol = object.value(QLatin1StringView("symbol")).toString();
            token.id = object.value(QLatin1StringView("id")).toString().toUpper();
            token.symbol = symbol.toUpper();
            token.name = object.value(QLatin1StringView("name")).toString();
            const QJsonValue logo = object.value(QLatin1StringView("logoUrl"));
            if (logo.isString()) {
                token.logoURL = QUrl(logo.toString(), QUrl::StrictMode);
            }
            token.price = object.value(QLatin1StringView("price")).toDouble();
            token.change24h = object.value(QLatin1StringView("change24h")).toDouble();
            const QJsonArray trend = object.value(QLatin1StringView("trend7d")).toArray();
            token.trend7d.reserve(trend.size());
            for (const QJsonValue& sample : trend) {
                token.trend7d.append(sample.toDouble());
            }
            token.iconSeed = symbol.toLower();
            tokens.append(std::move(token));
        }
        if (tokens.size() != kItems) {
            state.SkipWithError("the answer did not decode");
            break;
        }
        benchmark::DoNotOptimize(tokens);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * body.size());
}
BENCHMARK(decodeQuotesUncheckedReference)->ArgName("logos")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    // Translated error texts and Qt's string machinery expect an application object.
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
