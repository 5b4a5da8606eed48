#include "shell/StatusNotifierItem.h"

#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QPainter>
#include <QPainterPath>
#include <QtEndian>

namespace {

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

QImage renderStatusIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal inset = size * 0.06;
    const QRectF disc(inset, inset, size - 2 * inset, size - 2 * inset);
    QLinearGradient gradient(disc.topLeft(), disc.bottomRight());
    gradient.setColorAt(0, QColor(255, 179, 64));
    gradient.setColorAt(1, QColor(232, 118, 24));
    painter.setPen(Qt::NoPen);
    painter.setBrush(gradient);
    painter.drawEllipse(disc);

    // A "Z" drawn as a path, so it stays sharp without depending on an installed font.
    const qreal s = disc.width();
    const QPointF o = disc.topLeft();
    QPainterPath z;
    z.moveTo(o + QPointF(s * 0.30, s * 0.30));
    z.lineTo(o + QPointF(s * 0.70, s * 0.30));
    z.lineTo(o + QPointF(s * 0.32, s * 0.70));
    z.lineTo(o + QPointF(s * 0.70, s * 0.70));
    QPen pen(Qt::white, qMax<qreal>(1.5, s * 0.12), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(z);
    return image;
}

// org.kde.StatusNotifierItem, as hosts read it.
class StatusNotifierItemAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconThemePath READ empty)
    Q_PROPERTY(QString IconName READ empty)
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
    QString id() const { return QStringLiteral("zentrow"); }
    QString title() const { return m_item->title(); }
    QString status() const { return QStringLiteral("Active"); }
    int windowId() const { return 0; }
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
    // Our item has no menu entries of its own: a context-menu request is a click as well.
    void ContextMenu(int x, int y) { m_item->activate(x, y); }
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
    void XAyatanaNewLabel(const QString& label, const QString& guide);

private:
    StatusNotifierItem* m_item;
};

// com.canonical.dbusmenu with an empty root, for hosts that insist on a menu.
class DBusMenuAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ version)
    Q_PROPERTY(QString TextDirection READ textDirection)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(QStringList IconThemePath READ iconThemePath)

public:
    DBusMenuAdaptor(QObject* menu, StatusNotifierItem* item)
        : QDBusAbstractAdaptor(menu)
        , m_item(item)
    {
    }

    uint version() const { return 3; }
    QString textDirection() const { return QStringLiteral("ltr"); }
    QString status() const { return QStringLiteral("normal"); }
    QStringList iconThemePath() const { return {}; }

public Q_SLOTS:
    uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames, DBusMenuLayoutItem& layout)
    {
        Q_UNUSED(recursionDepth);
        Q_UNUSED(propertyNames);
        layout = DBusMenuLayoutItem{parentId, rootProperties(parentId), {}};
        return 1;
    }
    DBusMenuItemPropertiesList GetGroupProperties(const QList<int>& ids, const QStringList& propertyNames)
    {
        Q_UNUSED(propertyNames);
        DBusMenuItemPropertiesList list;
        for (int id : ids) {
            list.append(DBusMenuItemProperties{id, rootProperties(id)});
        }
        return list;
    }
    QDBusVariant GetProperty(int id, const QString& name) { return QDBusVariant(rootProperties(id).value(name)); }
    void Event(int id, const QString& eventId, const QDBusVariant& data, uint timestamp)
    {
        Q_UNUSED(data);
        Q_UNUSED(timestamp);
        if (id == 0 && eventId == QLatin1String("opened")) {
            m_item->menuOpened();
        }
    }
    QList<int> EventGroup(const DBusMenuEventList& events)
    {
        for (const DBusMenuEvent& event : events) {
            Event(event.id, event.eventId, event.data, event.timestamp);
        }
        return {};
    }
    bool AboutToShow(int id)
    {
        Q_UNUSED(id);
        return false;
    }
    QList<int> AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors)
    {
        Q_UNUSED(ids);
        idErrors.clear();
        return {};
    }

Q_SIGNALS:
    void LayoutUpdated(uint revision, int parent);
    void ItemActivationRequested(int id, uint timestamp);

private:
    static QVariantMap rootProperties(int id)
    {
        if (id != 0) {
            return {};
        }
        return {{QStringLiteral("children-display"), QStringLiteral("submenu")}};
    }

    StatusNotifierItem* m_item;
};

StatusNotifierItem::StatusNotifierItem(const QDBusConnection& bus, QObject* parent)
    : StatusItem(parent)
    , m_bus(bus)
    , m_serviceName(QStringLiteral("org.kde.StatusNotifierItem-%1-1").arg(QCoreApplication::applicationPid()))
{
    registerStatusNotifierTypes();
    for (int size : {16, 22, 24, 32, 44, 48, 64, 96}) {
        m_iconPixmaps.append(toIconPixmap(renderStatusIcon(size)));
    }
    m_adaptor = new StatusNotifierItemAdaptor(this);
    m_menu = new QObject(this);
    new DBusMenuAdaptor(m_menu, this);

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
    if (title == m_title) {
        return;
    }
    m_title = title;
    Q_EMIT m_adaptor->NewTitle();
    Q_EMIT m_adaptor->NewToolTip();
    Q_EMIT m_adaptor->XAyatanaNewLabel(m_title, labelGuide());
}

QString StatusNotifierItem::labelGuide() const
{
    // Digits vary from one refresh to the next; a guide with zeros keeps the panel slot steady.
    QString guide = m_title;
    for (QChar& c : guide) {
        if (c.isDigit()) {
            c = QLatin1Char('0');
        }
    }
    return guide;
}

SniToolTip StatusNotifierItem::toolTip() const
{
    return SniToolTip{QString(), {}, m_title, QString()};
}

void StatusNotifierItem::activate(int x, int y)
{
    // Some hosts send (0, 0) when they do not know where the click was.
    click(x == 0 && y == 0 ? QPoint() : QPoint(x, y));
}

void StatusNotifierItem::menuOpened()
{
    click(QPoint());
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
