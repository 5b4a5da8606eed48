// The floor bench_startup compares the app against: a Qt Widgets program with a StatusNotifierItem
// on the session bus (an icon, a title, Activate) that registers with the watcher, and an empty
// popup window that Activate shows and hides. Nothing else: no fonts drawn, no network, no state.
//
// With --text the popup draws two lines, one regular and one medium, in Noto Sans CJK SC: the
// least any popover with a Chinese interface and semibold figures loads (two CJK faces and the
// text code), which the plain floor never touches.
#include <QApplication>
#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCall>
#include <QImage>
#include <QPainter>
#include <QWidget>

#include <memory>

struct IconPixmap {
    int width = 0;
    int height = 0;
    QByteArray bytes;
};
Q_DECLARE_METATYPE(IconPixmap)

QDBusArgument& operator<<(QDBusArgument& argument, const IconPixmap& pixmap)
{
    argument.beginStructure();
    argument << pixmap.width << pixmap.height << pixmap.bytes;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, IconPixmap& pixmap)
{
    argument.beginStructure();
    argument >> pixmap.width >> pixmap.height >> pixmap.bytes;
    argument.endStructure();
    return argument;
}

class BareItemAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(QList<IconPixmap> IconPixmap READ iconPixmap)

public:
    BareItemAdaptor(QObject* item, QWidget* popup)
        : QDBusAbstractAdaptor(item)
        , m_popup(popup)
    {
        QImage image(22, 22, QImage::Format_ARGB32);
        image.fill(QColor(240, 150, 40));
        // ARGB32 in network byte order is what hosts read; a solid fill is the same either way.
        m_icon = {image.width(), image.height(),
                  QByteArray(reinterpret_cast<const char*>(image.constBits()), image.sizeInBytes())};
    }

    QString category() const { return QStringLiteral("ApplicationStatus"); }
    QString id() const { return QStringLiteral("bare"); }
    QString title() const { return QStringLiteral("BTC 75,456.36 -2.05%"); }
    QString status() const { return QStringLiteral("Active"); }
    QList<IconPixmap> iconPixmap() const { return {m_icon}; }

public Q_SLOTS:
    void Activate(int x, int y)
    {
        if (m_popup->isVisible()) {
            m_popup->hide();
            return;
        }
        m_popup->move(qMax(0, x - m_popup->width() / 2), y + 12);
        m_popup->show();
    }

private:
    QWidget* m_popup;
    IconPixmap m_icon;
};

class TextPopup : public QWidget {
public:
    TextPopup()
        : QWidget(nullptr, Qt::Popup | Qt::FramelessWindowHint)
    {
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        QFont font(QStringLiteral("Noto Sans CJK SC"));
        font.setPixelSize(14);
        painter.setFont(font);
        painter.drawText(16, 30, QStringLiteral("自选 还没有添加代币"));
        font.setPixelSize(15);
        font.setWeight(QFont::Medium);
        painter.setFont(font);
        painter.drawText(16, 60, QStringLiteral("BTC 75,456.36 -2.05%"));
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    qDBusRegisterMetaType<IconPixmap>();
    qDBusRegisterMetaType<QList<IconPixmap>>();

    const bool text = QCoreApplication::arguments().contains(QStringLiteral("--text"));
    std::unique_ptr<QWidget> owned =
        text ? std::make_unique<TextPopup>() : std::make_unique<QWidget>(nullptr, Qt::Popup | Qt::FramelessWindowHint);
    QWidget& popup = *owned;
    popup.setFixedSize(368, 620);
    QObject item;
    new BareItemAdaptor(&item, &popup);

    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString service = QStringLiteral("org.kde.StatusNotifierItem-%1-1").arg(QCoreApplication::applicationPid());
    if (!bus.registerObject(QStringLiteral("/StatusNotifierItem"), &item, QDBusConnection::ExportAdaptors) ||
        !bus.registerService(service)) {
        return 1;
    }
    const QString watcher = QStringLiteral("org.kde.StatusNotifierWatcher");
    auto message = QDBusMessage::createMethodCall(watcher, QStringLiteral("/StatusNotifierWatcher"), watcher,
                                                  QStringLiteral("RegisterStatusNotifierItem"));
    message << service;
    bus.asyncCall(message);
    return QApplication::exec();
}

#include "bare_status_item.moc"
