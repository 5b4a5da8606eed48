#include "testlib/FakeMarketDataService.h"
#include "testlib/Pixels.h"
#include "ui/kit/SpringAnimation.h"
#include "ui/kit/Typography.h"
#include "ui/popover/MenuWatchlistRowView.h"
#include "ui/popover/PriceAlertPanel.h"
#include "ui/popover/RowFigures.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QFontMetricsF>
#include <QImage>
#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <limits>
#include <memory>

using namespace Pixels;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A token whose symbol is exactly `symbol`, for the figures the expanded row derives.
TokenSummary figuresToken(const QString& symbol, double price, double change = 0, QList<double> trend = {})
{
    TokenSummary t = FakeMarketDataService::token(symbol, price, change, std::move(trend));
    t.symbol = symbol;
    return t;
}

constexpr int kRowWidth = 344;
constexpr qreal kTolerance = 0.01;

TokenSummary btc(double price = 75456.36, double change = -2.05)
{
    TokenSummary t = FakeMarketDataService::token(QStringLiteral("BTC"), price, change,
                                                  {71000, 72200, 73650, 74120, 75900, 76320, 75456});
    t.name = QStringLiteral("Bitcoin");
    return t;
}

struct Row {
    int taps = 0;
    std::unique_ptr<MenuWatchlistRowView> view;

    explicit Row(const TokenSummary& token, bool expanded = false, bool debug = false,
                 const QString& price = QStringLiteral("75,456.36"), const QString& change = QStringLiteral("-2.05%"))
        : view(std::make_unique<MenuWatchlistRowView>(token, price, change, expanded, debug))
    {
        QObject::connect(view.get(), &MenuWatchlistRowView::tapped, view.get(), [this] { ++taps; });
        view->resize(kRowWidth, view->sizeHint().height());
    }
    MenuWatchlistRowView* operator->() const { return view.get(); }
};

// How many pixels inside `area` lean clearly towards green or red.
int tinted(const QImage& image, const QRectF& area, bool green)
{
    int count = 0;
    const qreal r = image.devicePixelRatio();
    const QRect pixels = QRectF(area.topLeft() * r, area.size() * r).toAlignedRect() & image.rect();
    for (int y = pixels.top(); y <= pixels.bottom(); ++y) {
        for (int x = pixels.left(); x <= pixels.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            const bool hit = green ? c.green() - c.red() > 60 : c.red() - c.green() > 60;
            count += hit ? 1 : 0;
        }
    }
    return count;
}

} // namespace

class TestWatchlistRow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        SpringAnimation::setAnimationsEnabled(false);
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    }

    void cleanup() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

    void columnsKeepTheirPlaceWhateverTheTexts_data()
    {
        QTest::addColumn<QString>("symbol");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("price");
        QTest::newRow("short") << "BTC" << QStringLiteral("Bitcoin") << "75,456.36";
        QTest::newRow("long latin") << QStringLiteral("A").repeated(200) << QStringLiteral("Coin ").repeated(40)
                                    << "75,456.36";
        QTest::newRow("right to left") << QString::fromUtf8("ب").repeated(200)
                                       << QString::fromUtf8("שלום ").repeated(40) << "1.00";
        QTest::newRow("emoji") << QString::fromUtf8("\U0001F680").repeated(200)
                               << QString::fromUtf8("\U0001F4B0\u200D").repeated(100) << "0.0001";
        QTest::newRow("line breaks") << "BT\nC" << QStringLiteral("Bit\r\ncoin\u2028x") << "1\n2";
        QTest::newRow("huge price") << "BTC" << QStringLiteral("Bitcoin") << "123,456,789,012,345,678.00";
    }
    void columnsKeepTheirPlaceWhateverTheTexts()
    {
        QFETCH(QString, symbol);
        QFETCH(QString, name);
        QFETCH(QString, price);
        TokenSummary token = btc();
        token.symbol = symbol;
        token.name = name;
        Row row(token, true, false, price);
        const MenuWatchlistRowView::Layout& l = row->layout();

        // The columns stand where they do for every text: only the texts give way.
        QCOMPARE(l.trendCell, Row(btc())->layout().trendCell);

        const QFont symbolFont = Typography::font(15, Typography::Weight::Semibold);
        const QFont priceFont = Typography::font(15, Typography::Weight::Semibold, Typography::Design::Rounded);
        QVERIFY(l.symbol.rect.right() <= l.trendCell.left() - 10 + kTolerance);
        QVERIFY(QFontMetricsF(symbolFont).horizontalAdvance(l.symbol.text) <= l.symbol.rect.width() + kTolerance);
        QVERIFY(QFontMetricsF(priceFont).horizontalAdvance(l.price.text) <= l.price.rect.width() + kTolerance);
        for (const auto* text : {&l.symbol, &l.name, &l.price, &l.detailName, &l.detailPrice}) {
            QVERIFY2(!text->text.contains(QLatin1Char('\n')) && !text->text.contains(QLatin1Char('\r')) &&
                         !text->text.contains(QChar::LineSeparator),
                     qPrintable(text->text));
        }
        if (symbol.size() > 100) {
            QVERIFY(l.symbol.text.endsWith(QChar(0x2026)));
            QVERIFY(l.name.text.endsWith(QChar(0x2026)));
        }
        QVERIFY(l.detailName.rect.right() <= l.detailChartSlot.left() + kTolerance);
        // It draws, at both pixel ratios.
        QVERIFY(!render(*row.view, 2).isNull());
    }

    void detailPanelShowsTheExchangesFiguresOrDashes()
    {
        const auto texts = [](const MenuWatchlistRowView::Layout& l) {
            QStringList shown;
            for (const auto& metric : l.metrics) {
                shown << metric.title.text + QLatin1Char('=') + metric.value.text;
            }
            return shown;
        };
        TokenSummary reported = btc();
        reported.high24h = 77410;
        reported.low24h = 74850.12;
        reported.quoteVolume24h = 1523456789.12;
        reported.priceChange24h = -1579.32;
        Row full(reported, true);
        QCOMPARE(texts(full->layout()),
                 QStringList({QStringLiteral("24h 涨跌额=-1,579.3200"), QStringLiteral("24h 最高=77,410.00"),
                              QStringLiteral("24h 最低=74,850.12"), QStringLiteral("成交量=1.5B")}));
        const auto& d = full->layout();
        QCOMPARE((QStringList{d.detailAmount.text, d.detailName.text, d.detailChange.text}),
                 (QStringList{"-1,579.3200", "Bitcoin", "-2.05%"}));

        // An older backend: only the change amount can be had, from the price and percentage.
        Row older(btc(200, -2.5), true, false, QStringLiteral("200.00"), QStringLiteral("-2.50%"));
        QCOMPARE(texts(older->layout()),
                 QStringList({QStringLiteral("24h 涨跌额=-5.1282"), QStringLiteral("24h 最高=--"),
                              QStringLiteral("24h 最低=--"), QStringLiteral("成交量=--")}));
        // No quote at all: nothing but dashes.
        TokenSummary unquoted;
        unquoted.id = unquoted.symbol = QStringLiteral("DELISTED");
        Row none(unquoted, true, false, QStringLiteral("--"), QStringLiteral("--"));
        QCOMPARE(none->layout().detailAmount.text, QStringLiteral("--"));
        QCOMPARE(texts(none->layout()).first(), QStringLiteral("24h 涨跌额=--"));

        // A five-digit price with a four-digit change: every figure is shown whole, beside its
        // title, inside the left column.
        const QFont valueFont = Typography::font(12, Typography::Weight::Semibold, Typography::Design::Rounded);
        for (const auto& metric : full->layout().metrics) {
            QVERIFY(QFontMetricsF(valueFont).horizontalAdvance(metric.value.text) <=
                    metric.value.rect.width() + kTolerance);
            QVERIFY(metric.title.rect.right() <= metric.value.rect.left() + kTolerance);
            QVERIFY(metric.value.rect.right() <= full->layout().detailChartSlot.left() + kTolerance);
        }

        // Expanding from outside asks for the expanded height.
        Row collapsed(reported);
        QVERIFY(full->height() > collapsed->height());
        collapsed->setExpanded(true);
        QCOMPARE(collapsed->sizeHint().height(), full->height());
        QCOMPARE(collapsed->expansion(), 1.0);
    }

    void sparklinesSwapWhenExpandedAndFollowTheChange()
    {
        Row down(btc(100, -1));
        const auto& l = down->layout();
        QImage image = render(*down.view, 1);
        QVERIFY(tinted(image, l.trendCell, false) > 20);
        QCOMPARE(tinted(image, l.trendCell, true), 0);

        // Expanded: the small chart's cell is empty and the large chart shows below.
        down->setExpanded(true);
        down->resize(kRowWidth, down->sizeHint().height());
        image = render(*down.view, 1);
        QCOMPARE(tinted(image, l.trendCell, false), 0);
        QVERIFY(tinted(image, l.detailChartSlot, false) > 100);

        // A trend of one value leaves the cell empty too, and the large chart draws no line: it
        // never makes up samples.
        TokenSummary single = btc(100, -1);
        single.trend7d = {5};
        Row lonely(single);
        QCOMPARE(tinted(render(*lonely.view, 1), l.trendCell, false), 0);
        lonely->setExpanded(true);
        lonely->resize(kRowWidth, lonely->sizeHint().height());
        QCOMPARE(tinted(render(*lonely.view, 1), l.detailChartSlot, false), 0);
        // The finer series, when there is one, is what the large chart draws.
        single.trend7dFine = {90, 110, 95, 100};
        lonely->setToken(single);
        QVERIFY(tinted(render(*lonely.view, 1), l.detailChartSlot, false) > 100);
    }

    void debugOutlinesOnlyWhenAsked()
    {
        // The whole line's outline, in red, at the left edge; none on a plain row.
        Row outlined(btc(), false, true);
        const QColor edge = at(render(*outlined.view, 1), 0.5, 28);
        QVERIFY2(edge.red() - edge.blue() > 40, describe(edge));
        QCOMPARE(at(render(*Row(btc()).view, 1), 0.5, 28), QColor(Qt::white));
    }

    void tapsAndSecondaryClicks()
    {
        Row row(btc());
        row->show();
        QVERIFY(QTest::qWaitForWindowExposed(row.view.get()));
        QSignalSpy menu(row.view.get(), &MenuWatchlistRowView::contextMenuRequested);

        QTest::mouseClick(row.view.get(), Qt::LeftButton, {}, QPoint(200, 20));
        QCOMPARE(row.taps, 1);
        // Empty parts of the row react too; the rounded-off corner does not.
        QTest::mouseClick(row.view.get(), Qt::LeftButton, {}, QPoint(130, 50));
        QCOMPARE(row.taps, 2);
        QTest::mouseClick(row.view.get(), Qt::LeftButton, {}, QPoint(1, 1));
        QCOMPARE(row.taps, 2);

        QContextMenuEvent secondary(QContextMenuEvent::Mouse, QPoint(30, 30), row->mapToGlobal(QPoint(30, 30)));
        QApplication::sendEvent(row.view.get(), &secondary);
        QCOMPARE(menu.size(), 1);
        QCOMPARE(menu.first().first().toPoint(), row->mapToGlobal(QPoint(30, 30)));
        QTest::mouseClick(row.view.get(), Qt::RightButton, {}, QPoint(200, 20));
        QCOMPARE(row.taps, 2);
    }

    void hugeAndBrokenTrendsDraw()
    {
        QList<double> trend;
        for (int i = 0; i < 10000; ++i) {
            trend.append(i % 97 == 0 ? kNaN : 100 + std::sin(i / 50.0));
        }
        TokenSummary token = btc(kNaN, -1);
        token.trend7d = trend;
        for (const bool expanded : {false, true}) {
            Row row(token, expanded);
            QVERIFY(!render(*row.view, 1).isNull());
            QVERIFY(!render(*row.view, 2).isNull());
        }
        token.trend7d = QList<double>(3, std::numeric_limits<double>::infinity());
        token.price = 1e308;
        Row extreme(token, true);
        QVERIFY(!render(*extreme.view, 1).isNull());
    }

    // The figures of the detail panel.
    void amountsAndCompactAmounts_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("amount");
        QTest::addColumn<QString>("compact");
        QTest::newRow("one") << 1.0 << "1.00" << QStringLiteral("1.00");
        QTest::newRow("below one") << 0.1762 << "0.1762" << QStringLiteral("0.1762");
        QTest::newRow("ties to even up") << 0.99995 << "1.0000" << QStringLiteral("1.0000");
        QTest::newRow("999") << 999.0 << "999.00" << QStringLiteral("999.00");
        QTest::newRow("2,500") << 2500.0 << "2,500.00" << QStringLiteral("2.5K");
        QTest::newRow("whole thousands drop the fraction") << 3000.0 << "3,000.00" << QStringLiteral("3K");
        QTest::newRow("rounds into the next thousand") << 999950.0 << "999,950.00" << QStringLiteral("1,000K");
        QTest::newRow("millions") << 1234567.0 << "1,234,567.00" << QStringLiteral("1.2M");
        // The digit count follows the signed value: every negative value gets four.
        QTest::newRow("negative") << -5.0 << "-5.0000" << QStringLiteral("-5.0000");
        // Below a cent in size, four significant digits.
        QTest::newRow("sub-cent") << 0.00001234 << "0.00001234" << QStringLiteral("0.00001234");
        QTest::newRow("negative sub-cent") << -0.000123 << "-0.0001230" << QStringLiteral("-0.0001230");
        QTest::newRow("zero") << 0.0 << "0.0000" << QStringLiteral("0.0000");
        QTest::newRow("not a number") << kNaN << "nan" << QStringLiteral("nan");
        QTest::newRow("infinite") << std::numeric_limits<double>::infinity() << "inf" << QStringLiteral("infB");
    }
    void amountsAndCompactAmounts()
    {
        QFETCH(double, value);
        QFETCH(QString, amount);
        QFETCH(QString, compact);
        QCOMPARE(RowFigures::amount(value), amount);
        QCOMPARE(RowFigures::compactAmount(value), compact);
    }

    // The alert panel's suggestion: 5 % off the market price, kept to a few digits a person would
    // type; nothing without a price; and what the field reads back.
    void alertSuggestions_data()
    {
        QTest::addColumn<PriceAlert::Kind>("kind");
        QTest::addColumn<double>("price");
        QTest::addColumn<QString>("text");
        QTest::newRow("above") << PriceAlert::Kind::Above << 75456.36 << "79,200";
        QTest::newRow("below") << PriceAlert::Kind::Below << 75456.36 << "71,700";
        QTest::newRow("hundreds") << PriceAlert::Kind::Above << 143.5 << "151";
        QTest::newRow("below one drops trailing zeros") << PriceAlert::Kind::Above << 0.1234 << "0.13";
        QTest::newRow("sub-cent keeps four digits") << PriceAlert::Kind::Above << 0.000008712 << "0.000009148";
        QTest::newRow("no market price") << PriceAlert::Kind::Above << 0.0 << "";
        QTest::newRow("not a number") << PriceAlert::Kind::Below << kNaN << "";
        QTest::newRow("change") << PriceAlert::Kind::ChangeBeyond << 0.0 << "5";
    }
    void alertSuggestions()
    {
        QFETCH(PriceAlert::Kind, kind);
        QFETCH(double, price);
        QFETCH(QString, text);
        QCOMPARE(PriceAlertPanel::suggestionText(kind, price), text);
        if (!text.isEmpty()) {
            QCOMPARE(PriceAlertPanel::parsedThreshold(text), PriceAlertPanel::suggestedThreshold(kind, price));
        }
        QCOMPARE(PriceAlertPanel::parsedThreshold(QStringLiteral(" 80000.5 ")), std::optional<double>(80000.5));
        for (const char* bad : {"", "abc", "0", "-5", "inf", "nan"}) {
            QCOMPARE(PriceAlertPanel::parsedThreshold(QLatin1String(bad)), std::nullopt);
        }
    }

    void numbersFollowTheCurrentLocale()
    {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        QCOMPARE(RowFigures::amount(1234.5), QStringLiteral("1.234,50"));
        QCOMPARE(RowFigures::compactAmount(2500), QStringLiteral("2,5K"));
        QCOMPARE(RowFigures::compactAmount(3000), QStringLiteral("3K"));
        QCOMPARE(RowFigures::signedChangeAmountText(figuresToken("BTC", 200, -2.5)), QStringLiteral("-5,1282"));
    }

    void changeAmountCarriesItsSign_data()
    {
        QTest::addColumn<double>("price");
        QTest::addColumn<double>("change");
        QTest::addColumn<bool>("up");
        QTest::addColumn<QString>("text");
        // What the price moved by since a day ago: price − price / (1 + change / 100).
        QTest::newRow("down") << 200.0 << -2.5 << false << "-5.1282";
        QTest::newRow("up") << 205.0 << 2.5 << true << "+5.00";
        QTest::newRow("zero counts as up") << 200.0 << 0.0 << true << "+0.0000";
        QTest::newRow("negative zero counts as up") << 200.0 << -0.0 << true << "+0.0000";
        QTest::newRow("small up") << 0.55 << 10.0 << true << "+0.0500";
        QTest::newRow("sub-cent") << 0.0000123 << 12.0 << true << "+0.000001318";
        QTest::newRow("no price") << 0.0 << 5.0 << true << "--";
        QTest::newRow("all gone") << 1.0 << -100.0 << false << "--";
    }
    void changeAmountCarriesItsSign()
    {
        QFETCH(double, price);
        QFETCH(double, change);
        QFETCH(bool, up);
        QFETCH(QString, text);
        QCOMPARE(RowFigures::isUp(change), up);
        QCOMPARE(RowFigures::signedChangeAmountText(figuresToken("BTC", price, change)), text);
        QVERIFY(!RowFigures::isUp(kNaN));
        // The exchange's own amount, when the record has it, is shown as it is.
        TokenSummary reported = figuresToken("BTC", price, change);
        reported.priceChange24h = 0.25;
        QCOMPARE(RowFigures::signedChangeAmountText(reported), QStringLiteral("+0.2500"));
    }
};

QTEST_MAIN(TestWatchlistRow)
#include "tst_watchlistrow.moc"
