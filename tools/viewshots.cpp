// Renders the app's views with fixed data and writes what its status item publishes, so two
// builds can be compared pixel for pixel and line for line (scripts/compare-views.sh).
//
//   viewshots --out DIR [--scale 1|2] [--locale zh_CN|en_US]
//   viewshots --compare A.png B.png      exit 0 when the two images match pixel for pixel
//
// Runs the whole app in this process on the session bus it is given (run it under
// dbus-run-session), against a loopback backend with fixed quotes and a virtual clock. It performs
// a scripted add, pin, move, refresh and remove, writing the item's title, label, tooltip and menu
// after each step to DIR/status-item.txt, then grabs the popover (collapsed, one row expanded,
// searching) and both settings tabs to DIR/*.png.

#include "shell/SettingsWindowManager.h"
#include "shell/ZentrowApp.h"
#include "state/AppState.h"
#include "testlib/AppOnPrivateBus.h"
#include "testlib/StatusItemHost.h"
#include "ui/kit/SpringAnimation.h"
#include "ui/settings/SettingsTab.h"
#include "ui/settings/SettingsView.h"

#include <QApplication>
#include <QDBusArgument>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QLocale>
#include <QRegularExpression>
#include <QTextStream>
#include <QUrlQuery>
#include <QWidget>

#include <cstdio>

namespace {

struct Quote {
    const char* id;
    const char* name;
    double price;
    double change;
};

// Prices after the scripted refresh move by `bump`.
QJsonObject record(const Quote& quote, double bump)
{
    const double price = quote.price * bump;
    QJsonArray trend;
    QJsonArray fine;
    for (int i = 0; i < 42; ++i) {
        const double point = price * (1 + 0.02 * ((i * 7 % 11) - 5) / 5.0);
        fine.append(point);
        if (i % 6 == 0) {
            trend.append(point);
        }
    }
    return QJsonObject{{QStringLiteral("id"), quote.id},
                       {QStringLiteral("symbol"), quote.id},
                       {QStringLiteral("name"), quote.name},
                       {QStringLiteral("price"), price},
                       {QStringLiteral("change24h"), quote.change},
                       {QStringLiteral("trend7d"), trend},
                       {QStringLiteral("trend7dFine"), fine},
                       {QStringLiteral("high24h"), price * 1.03},
                       {QStringLiteral("low24h"), price * 0.97},
                       {QStringLiteral("quoteVolume24h"), price * 123456.0},
                       {QStringLiteral("priceChange24h"), price * quote.change / 100}};
}

const Quote kQuotes[] = {
    {"BTC", "Bitcoin", 75456.36, -2.05}, {"ETH", "Ethereum", 2337.24, 1.34}, {"SOL", "Solana", 143.5, 0},
    {"PEPE", "Pepe", 0.000008712, 12.5}, {"DOGE", "Dogecoin", 0.1234, -0.4},
};

// Moves the virtual clock and lets the app settle: coroutines resume on later event-loop passes,
// springs and the status item's coalesced update run on timers.
void settle(int passes = 40)
{
    for (int i = 0; i < passes; ++i) {
        QTest::qWait(10);
    }
}

QString describe(const QVariant& value);

QString describe(const QDBusArgument& argument)
{
    QStringList parts;
    switch (argument.currentType()) {
    case QDBusArgument::StructureType:
        argument.beginStructure();
        while (!argument.atEnd()) {
            parts.append(describe(argument.asVariant()));
        }
        argument.endStructure();
        return QLatin1Char('(') + parts.join(QStringLiteral(", ")) + QLatin1Char(')');
    case QDBusArgument::ArrayType:
        argument.beginArray();
        while (!argument.atEnd()) {
            parts.append(describe(argument.asVariant()));
        }
        argument.endArray();
        return QLatin1Char('[') + parts.join(QStringLiteral(", ")) + QLatin1Char(']');
    case QDBusArgument::MapType:
        argument.beginMap();
        while (!argument.atEnd()) {
            argument.beginMapEntry();
            const QString key = describe(argument.asVariant());
            parts.append(key + QStringLiteral(": ") + describe(argument.asVariant()));
            argument.endMapEntry();
        }
        argument.endMap();
        parts.sort();
        return QLatin1Char('{') + parts.join(QStringLiteral(", ")) + QLatin1Char('}');
    default:
        return describe(argument.asVariant());
    }
}

QString describe(const QVariant& value)
{
    if (value.canConvert<QDBusArgument>() && value.userType() == qMetaTypeId<QDBusArgument>()) {
        return describe(value.value<QDBusArgument>());
    }
    if (value.userType() == qMetaTypeId<QDBusVariant>()) {
        return describe(value.value<QDBusVariant>().variant());
    }
    if (value.userType() == QMetaType::QByteArray) {
        // Icon pixels: their size and a checksum keep the transcript readable.
        const QByteArray bytes = value.toByteArray();
        return QStringLiteral("<%1 bytes %2>").arg(bytes.size()).arg(qChecksum(bytes));
    }
    if (value.userType() == QMetaType::QStringList) {
        return QLatin1Char('[') + value.toStringList().join(QStringLiteral(", ")) + QLatin1Char(']');
    }
    return value.toString();
}

// One step's view of the item, as a host reads it. The menu's revision and entry ids are left out:
// how often the menu is rebuilt is not something a user sees.
QStringList itemTranscript(const StatusItemHost& host, const QString& step)
{
    QStringList lines{QStringLiteral("== ") + step};
    for (const char* name : {"Title", "Status", "XAyatanaLabel", "XAyatanaLabelGuide", "ToolTip", "IconName"}) {
        lines.append(QStringLiteral("%1: %2").arg(QLatin1String(name), describe(host.property(QLatin1String(name)))));
    }
    for (const StatusItemHost::MenuEntry& entry : host.menuLayout().second) {
        QStringList properties;
        for (auto it = entry.properties.cbegin(); it != entry.properties.cend(); ++it) {
            properties.append(it.key() + QStringLiteral("=") + describe(it.value()));
        }
        lines.append(QStringLiteral("menu: ") + properties.join(QStringLiteral("; ")));
    }
    return lines;
}

bool save(QWidget* window, const QString& path)
{
    if (!window) {
        std::fprintf(stderr, "viewshots: no window for %s\n", qPrintable(path));
        return false;
    }
    // Springs and fades run on timers: grab until two grabs agree.
    QImage previous;
    for (int i = 0; i < 100; ++i) {
        settle(5);
        const QImage image = window->grab().toImage();
        if (image == previous) {
            return image.save(path);
        }
        previous = image;
    }
    std::fprintf(stderr, "viewshots: %s never settled\n", qPrintable(path));
    return false;
}

QWidget* popoverWindow()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && widget->inherits("PopoverWindow")) {
            return widget;
        }
    }
    return nullptr;
}

int compareImages(const QString& first, const QString& second)
{
    const QImage a = QImage(first).convertToFormat(QImage::Format_ARGB32);
    const QImage b = QImage(second).convertToFormat(QImage::Format_ARGB32);
    if (a.isNull() || b.isNull() || a.size() != b.size()) {
        std::printf("%s: sizes differ (%dx%d, %dx%d)\n", qPrintable(first), a.width(), a.height(), b.width(),
                    b.height());
        return 1;
    }
    int differing = 0;
    QRect box;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            if (a.pixel(x, y) != b.pixel(x, y)) {
                ++differing;
                box |= QRect(x, y, 1, 1);
            }
        }
    }
    if (differing > 0) {
        std::printf("%s: %d pixels differ, within x %d-%d, y %d-%d\n", qPrintable(first), differing, box.left(),
                    box.right(), box.top(), box.bottom());
    }
    return differing > 0 ? 1 : 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && QByteArray(argv[1]) == "--compare") {
        return compareImages(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    }
    QString out;
    QByteArray scale = "1";
    QString locale = QStringLiteral("zh_CN");
    for (int i = 1; i + 1 < argc; i += 2) {
        const QByteArray flag = argv[i];
        if (flag == "--out") {
            out = QString::fromLocal8Bit(argv[i + 1]);
        } else if (flag == "--scale") {
            scale = argv[i + 1];
        } else if (flag == "--locale") {
            locale = QString::fromLocal8Bit(argv[i + 1]);
        }
    }
    if (out.isEmpty()) {
        std::fprintf(stderr, "usage: viewshots --out DIR [--scale 1|2] [--locale zh_CN|en_US]\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_SCALE_FACTOR", scale);
    qputenv("LANG", (locale + QStringLiteral(".UTF-8")).toLatin1());
    qputenv("LC_ALL", (locale + QStringLiteral(".UTF-8")).toLatin1());
    QApplication application(argc, argv);
    QLocale::setDefault(QLocale(locale));
    // Springs end where they would have settled: no grab catches a row in motion.
    SpringAnimation::setAnimationsEnabled(false);
    // A caret that never blinks.
    QApplication::setCursorFlashTime(0);
    QDir().mkpath(out);

    double bump = 1.0;
    AppOnPrivateBus::Harness harness;
    harness.setUp([&bump](const LoopbackHttpServer::Request& request) {
        const QUrlQuery query(QUrl(QString::fromLatin1(request.target)).query());
        QJsonArray data;
        if (request.target.startsWith("/api/quotes")) {
            const QStringList ids = query.queryItemValue(QStringLiteral("ids")).split(QLatin1Char(','));
            for (const Quote& quote : kQuotes) {
                if (ids.contains(QLatin1String(quote.id), Qt::CaseInsensitive)) {
                    data.append(record(quote, bump));
                }
            }
        } else if (request.target.startsWith("/api/search")) {
            for (const Quote& quote : kQuotes) {
                if (QString::fromLatin1(quote.name)
                        .contains(query.queryItemValue(QStringLiteral("q")), Qt::CaseInsensitive)) {
                    QJsonObject result = record(quote, 1.0);
                    result.insert(QStringLiteral("rank"), data.size() + 1);
                    data.append(result);
                }
            }
        }
        return LoopbackHttpServer::Reply::json(QJsonDocument(QJsonObject{{QStringLiteral("data"), data}}).toJson());
    });
    harness.watcher->start();
    ZentrowApp& app = harness.start();
    AppState& state = app.appState();
    settle();

    const StatusItemHost host(AppOnPrivateBus::hostBus(), harness.watcher->items().value(0));
    QStringList transcript = itemTranscript(host, QStringLiteral("launch"));
    const auto token = [](const char* id) {
        TokenSummary summary;
        summary.id = summary.symbol = summary.iconSeed = QString::fromLatin1(id);
        summary.iconSeed = summary.iconSeed.toLower();
        summary.name = QString::fromLatin1(id);
        return summary;
    };
    const auto step = [&](const QString& name, const std::function<void()>& action) {
        action();
        settle();
        transcript += itemTranscript(host, name);
    };
    step(QStringLiteral("add ETH, SOL, PEPE, DOGE and XYZ"), [&] {
        for (const char* id : {"ETH", "SOL", "PEPE", "DOGE", "XYZ"}) {
            state.addToken(token(id));
        }
    });
    step(QStringLiteral("pin SOL"), [&] { state.pinToMenuBar(QStringLiteral("SOL")); });
    step(QStringLiteral("move SOL to the top"), [&] { state.moveTokenToTop(QStringLiteral("SOL")); });
    step(QStringLiteral("refresh with new prices"), [&] {
        bump = 1.05;
        harness.sleeper->advance(std::chrono::hours(25));
    });
    step(QStringLiteral("remove DOGE"), [&] { state.removeToken(QStringLiteral("DOGE")); });
    step(QStringLiteral("remove SOL"), [&] { state.removeToken(QStringLiteral("SOL")); });
    step(QStringLiteral("pin ETH"), [&] { state.pinToMenuBar(QStringLiteral("ETH")); });

    QFile file(QDir(out).filePath(QStringLiteral("status-item.txt")));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        return 1;
    }
    // The tooltip's update time is the wall clock's.
    static const QRegularExpression clock(QStringLiteral("更新于 \\d\\d:\\d\\d"));
    QTextStream(&file) << transcript.join(QLatin1Char('\n')).replace(clock, QStringLiteral("更新于 HH:mm")) << '\n';
    file.close();

    bool ok = host.activate();
    settle();
    ok = save(popoverWindow(), QDir(out).filePath(QStringLiteral("popover-collapsed.png"))) && ok;
    state.toggleExpandedToken(QStringLiteral("BTC"));
    ok = save(popoverWindow(), QDir(out).filePath(QStringLiteral("popover-expanded.png"))) && ok;
    state.toggleExpandedToken(QStringLiteral("BTC"));
    state.setIsSearchPresented(true);
    settle();
    // Typed as a user types it, so the field shows the query.
    if (auto* field =
            popoverWindow() ? popoverWindow()->findChild<QLineEdit*>(QStringLiteral("searchField")) : nullptr) {
        QTest::keyClicks(field, QStringLiteral("eth"));
    }
    settle();
    harness.sleeper->advance(AppState::kSearchDebounce);
    settle();
    ok = save(popoverWindow(), QDir(out).filePath(QStringLiteral("popover-search.png"))) && ok;

    SettingsWindowManager::shared().show(state);
    ok = save(SettingsWindowManager::shared().window(), QDir(out).filePath(QStringLiteral("settings-general.png"))) &&
         ok;
    SettingsWindowManager::shared().settingsView()->setSelectedTab(SettingsTab::about);
    ok = save(SettingsWindowManager::shared().window(), QDir(out).filePath(QStringLiteral("settings-about.png"))) && ok;
    return ok ? 0 : 1;
}
