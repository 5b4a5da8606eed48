#include "shell/StatusNotifierItem.h"

#include "shell/AppIcon.h"
#include "shell/DockWindows.h"
#include "shell/StatusNotifierMenu.h"

#include <QCoreApplication>
#include <QCursor>
#include <QDBusAbstractAdaptor>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QtEndian>

namespace {

// Panels ask for icons between 16 and 64 pixels; larger ones only cost bytes on every read.
constexpr int kPixmapSizes[] = {16, 22, 24, 32, 48, 64};

SniIconPixmap toIconPixmap(const QImage& source)
{
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    SniIconPixmap pixmap{image.width(), image.height(), QByteArray()};
    pixmap.bytes.resize(image.width() * image.height() * 4);
    auto* out = reinterpret_cast<quint32*>(pixmap.bytes.data());
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const quint32*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            *out++ = qToBigEndian(line[x]);
        }
    }
    return pixmap;
}

} // namespace

// org.kde.StatusNotifierItem, as hosts read it.
class StatusNotifierItemAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconThemePath READ iconThemePath)
    Q_PROPERTY(QString IconName READ iconName)
    Q_PROPERTY(SniIconPixmapList IconPixmap READ iconPixmap)
    Q_PROPERTY(QString OverlayIconName READ empty)
    Q_PROPERTY(SniIconPixmapList OverlayIconPixmap READ noPixmaps)
    Q_PROPERTY(QString AttentionIconName READ empty)
    Q_PROPERTY(SniIconPixmapList AttentionIconPixmap READ noPixmaps)
    Q_PROPERTY(QString AttentionMovieName READ empty)
    Q_PROPERTY(SniToolTip ToolTip READ toolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ menu)
    Q_PROPERTY(QString XAyatanaLabel READ title)
    Q_PROPERTY(QString XAyatanaLabelGuide READ labelGuide)
    Q_PROPERTY(uint XAyatanaOrderingIndex READ orderingIndex)

public:
    explicit StatusNotifierItemAdaptor(StatusNotifierItem* item)
        : QDBusAbstractAdaptor(item)
        , m_item(item)
    {
    }

    QString category() const { return QStringLiteral("ApplicationStatus"); }
    QString id() const { return AppIcon::kName; }
    QString title() const { return m_item->title(); }
    QString status() const { return QStringLiteral("Active"); }
    int windowId() const { return 0; }
    QString iconThemePath() const { return m_item->iconThemePath(); }
    QString iconName() const { return AppIcon::kName; }
    QString empty() const { return {}; }
    SniIconPixmapList iconPixmap() const { return m_item->iconPixmaps(); }
    SniIconPixmapList noPixmaps() const { return {}; }
    SniToolTip toolTip() const { return m_item->toolTip(); }
    bool itemIsMenu() const { return false; }
    QDBusObjectPath menu() const { return QDBusObjectPath(StatusNotifierItem::kMenuPath); }
    QString labelGuide() const { return m_item->labelGuide(); }
    uint orderingIndex() const { return 0; }

public Q_SLOTS:
    void Activate(int x, int y) { m_item->activate(x, y); }
    void SecondaryActivate(int x, int y) { m_item->activate(x, y); }
    // Hosts with a menu show it themselves; one that asks us instead gets the same entries.
    void ContextMenu(int x, int y) { Q_EMIT m_item->menuRequested(StatusNotifierItem::fromHostPosition(x, y)); }
    // Ayatana hosts send this for a middle click.
    void XAyatanaSecondaryActivate(uint) { m_item->activate(0, 0); }
    void Scroll(int, const QString&) {}
    void ProvideXdgActivationToken(const QString&) {}

Q_SIGNALS:
    void NewTitle();
    void NewIcon();
    void NewAttentionIcon();
    void NewOverlayIcon();
    void NewToolTip();
    void NewStatus(const QString& status);
    void NewMenu();
    void NewIconThemePath(const QString& path);
    void XAyatanaNewLabel(const QString& label, const QString& guide);

private:
    StatusNotifierItem* m_item;
};

StatusNotifierItem::StatusNotifierItem(const QDBusConnection& bus, QObject* parent)
    : StatusItem(parent)
    , m_bus(bus)
    , m_serviceName(QStringLiteral("org.kde.StatusNotifierItem-%1-1").arg(QCoreApplication::applicationPid()))
    , m_iconThemePath(AppIcon::themePath())
{
    registerStatusNotifierTypes();
    m_content.title = QStringLiteral("Zentrow");
    for (int size : kPixmapSizes) {
        m_iconPixmaps.append(toIconPixmap(AppIcon::image(size)));
    }
    m_adaptor = new StatusNotifierItemAdaptor(this);
    m_menu = new StatusNotifierMenu(this);
    connect(m_menu, &StatusNotifierMenu::openRequested, this, &StatusItem::openRequested);
    connect(m_menu, &StatusNotifierMenu::pinRequested, this, &StatusItem::pinRequested);
    connect(m_menu, &StatusNotifierMenu::settingsRequested, this, &StatusItem::settingsRequested);
    connect(m_menu, &StatusNotifierMenu::quitRequested, this, &StatusItem::quitRequested);

    if (!m_bus.isConnected()) {
        return;
    }
    m_exported = m_bus.registerObject(kItemPath, this, QDBusConnection::ExportAdaptors) &&
                 m_bus.registerObject(kMenuPath, m_menu, QDBusConnection::ExportAdaptors) &&
                 m_bus.registerService(m_serviceName);
    if (!m_exported) {
        return;
    }
    // Connected before the first registration attempt, so a watcher that starts in between is seen.
    m_watcher = new QDBusServiceWatcher(
        kWatcherService, m_bus, QDBusServiceWatcher::WatchForRegistration | QDBusServiceWatcher::WatchForUnregistration,
        this);
    connect(m_watcher, &QDBusServiceWatcher::serviceRegistered, this, [this] { registerWithWatcher(); });
    connect(m_watcher, &QDBusServiceWatcher::serviceUnregistered, this, [this] { setRegistered(false); });
    registerWithWatcher();
}

StatusNotifierItem::~StatusNotifierItem()
{
    m_contextMenu.reset();
    if (m_exported) {
        m_bus.unregisterService(m_serviceName);
        m_bus.unregisterObject(kMenuPath);
        m_bus.unregisterObject(kItemPath);
    }
}

void StatusNotifierItem::registerWithWatcher()
{
    auto message = QDBusMessage::createMethodCall(kWatcherService, QStringLiteral("/StatusNotifierWatcher"),
                                                  kWatcherService, QStringLiteral("RegisterStatusNotifierItem"));
    message << m_serviceName;
    auto* call = new QDBusPendingCallWatcher(m_bus.asyncCall(message), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* finished) {
        setRegistered(!finished->isError());
        finished->deleteLater();
    });
}

void StatusNotifierItem::setRegistered(bool registered)
{
    if (m_registered == registered) {
        return;
    }
    m_registered = registered;
    Q_EMIT registeredChanged(registered);
}

void StatusNotifierItem::setTitle(const QString& title)
{
    StatusItemContent content = m_content;
    content.title = title;
    setContent(content);
}

void StatusNotifierItem::setContent(const StatusItemContent& content)
{
    if (content == m_content) {
        return;
    }
    const StatusItemContent old = std::exchange(m_content, content);
    if (old.title != m_content.title) {
        Q_EMIT m_adaptor->NewTitle();
        Q_EMIT m_adaptor->XAyatanaNewLabel(m_content.title, labelGuide());
    }
    if (m_popoverShown) {
        m_toolTipStale = true;
    } else {
        Q_EMIT m_adaptor->NewToolTip();
    }
    m_menu->setTokens(m_content.tokens);
}

void StatusNotifierItem::setPopoverShown(bool shown)
{
    if (shown == m_popoverShown) {
        return;
    }
    m_popoverShown = shown;
    // Announcing a new tooltip while the pointer rests on the item makes hosts show it, on top
    // of the popover; what changed while the popover was open is announced once it closes.
    if (!shown && m_toolTipStale) {
        m_toolTipStale = false;
        Q_EMIT m_adaptor->NewToolTip();
    }
}

QString StatusNotifierItem::labelGuide() const
{
    // Digits vary from one refresh to the next; a guide with zeros keeps the panel slot steady.
    QString guide = m_content.title;
    for (QChar& c : guide) {
        if (c.isDigit()) {
            c = QLatin1Char('0');
        }
    }
    return guide;
}

SniToolTip StatusNotifierItem::toolTip() const
{
    // Icon-only hosts draw no label: the tooltip is where the figures are one glance away. The
    // pinned token's line is the title already.
    // Alerts that no notification showed come first, until the popover has shown them.
    QStringList lines;
    for (const QString& alert : m_content.alerts) {
        lines.append(alert.toHtmlEscaped());
    }
    for (const StatusItemToken& token : m_content.tokens) {
        if (token.text != m_content.title) {
            lines.append(token.text.toHtmlEscaped());
        }
    }
    if (!m_content.updatedAt.isEmpty()) {
        lines.append(m_content.updatedAt.toHtmlEscaped());
    }
    return SniToolTip{AppIcon::kName, {}, m_content.title, lines.join(QLatin1Char('\n'))};
}

void StatusNotifierItem::showMenu(const QPoint& at)
{
    m_contextMenu = std::make_unique<QMenu>();
    m_contextMenu->setObjectName(QStringLiteral("statusItemMenu"));
    for (int id : m_menu->childIds()) {
        const QVariantMap properties = m_menu->properties(id);
        if (properties.value(QStringLiteral("type")).toString() == QLatin1String("separator")) {
            m_contextMenu->addSeparator();
            continue;
        }
        QString label = properties.value(QStringLiteral("label")).toString();
        QAction* action = m_contextMenu->addAction(label.replace(QStringLiteral("__"), QStringLiteral("_")));
        if (properties.contains(QStringLiteral("toggle-type"))) {
            action->setCheckable(true);
            action->setChecked(properties.value(QStringLiteral("toggle-state")).toInt() == 1);
        }
        // Queued: the entry's request may close or rebuild this very menu.
        connect(
            action, &QAction::triggered, m_menu,
            [menu = m_menu, id] { menu->handleEvent(id, QStringLiteral("clicked")); }, Qt::QueuedConnection);
    }
    // Beside the panel the click was on, as the host's own menu would be, not over it.
    QPoint position = at.isNull() ? QCursor::pos() : at;
    const QSize size = m_contextMenu->sizeHint();
    for (const QRect& dock : DockWindows::geometries()) {
        if (dock.contains(position) && dock.width() > dock.height()) {
            const bool low = QGuiApplication::screenAt(position) &&
                             dock.center().y() > QGuiApplication::screenAt(position)->geometry().center().y();
            position.setY(low ? dock.top() - size.height() : dock.bottom() + 1);
        }
    }
    m_contextMenu->popup(position);
}

QPoint StatusNotifierItem::fromHostPosition(int x, int y)
{
    // Hosts send 0, 0 when they do not know where the click was.
    if (x == 0 && y == 0) {
        return {};
    }
    for (const QScreen* screen : QGuiApplication::screens()) {
        // Qt keeps a screen's origin and scales the distances from it.
        const QRect geometry = screen->geometry();
        const qreal ratio = screen->devicePixelRatio();
        const QRectF native(QPointF(geometry.topLeft()), QSizeF(geometry.size()) * ratio);
        const QPointF physical(x, y);
        if (native.contains(physical)) {
            const QPointF logical = QPointF(geometry.topLeft()) + (physical - native.topLeft()) / ratio;
            return logical.toPoint();
        }
    }
    return {};
}

void StatusNotifierItem::activate(int x, int y)
{
    click(fromHostPosition(x, y));
}

void StatusNotifierItem::click(const QPoint& anchor)
{
    if (m_lastClick.isValid() && m_lastClick.elapsed() < kClickCoalesceMs) {
        return;
    }
    m_lastClick.start();
    Q_EMIT clicked(anchor);
}

#include "StatusNotifierItem.moc"
