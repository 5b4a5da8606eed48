#include "shell/AppIcon.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QIconEngine>
#include <QImageReader>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

// Reads the size asked for when it is asked for and keeps nothing: windows take their icon once,
// when they are first shown, and holding every size from 16 to 256 px would cost a few hundred
// kilobytes for the app's whole life.
class AppIconEngine final : public QIconEngine {
public:
    QIconEngine* clone() const override { return new AppIconEngine; }
    QString key() const override { return QStringLiteral("ZentrowAppIcon"); }

    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override
    {
        QList<QSize> sizes;
        for (int size : AppIcon::kPixelSizes) {
            sizes.append(QSize(size, size));
        }
        return sizes;
    }

    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override
    {
        const int side = qMin(size.width(), size.height());
        return QSize(side, side);
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode, QIcon::State) override
    {
        const int side = qMin(size.width(), size.height());
        return side > 0 ? QPixmap::fromImage(AppIcon::image(side)) : QPixmap();
    }

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        const int side = qMin(rect.width(), rect.height());
        const QPixmap drawn = pixmap(QSize(side, side) * painter->device()->devicePixelRatio(), mode, state);
        painter->drawPixmap(QRect(rect.topLeft(), QSize(side, side)), drawn);
    }
};

} // namespace

QString AppIcon::fileFor(const QString& themePath, int size)
{
    return QStringLiteral("%1/hicolor/%2x%2/apps/%3.png").arg(themePath).arg(size).arg(kName);
}

QString AppIcon::themePath()
{
    // The executable's folder is known once the application object exists.
    static QString found;
    if (!found.isEmpty()) {
        return found;
    }
    QStringList candidates;
    if (QCoreApplication::instance()) {
        candidates.append(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/icons"));
    }
#ifdef ZENTROW_SOURCE_ICON_DIR
    candidates.append(QStringLiteral(ZENTROW_SOURCE_ICON_DIR));
#endif
    for (const QString& candidate : candidates) {
        if (QFileInfo::exists(fileFor(candidate, 22))) {
            const QString path = QDir::cleanPath(QDir(candidate).absolutePath());
            if (QCoreApplication::instance()) {
                found = path;
            }
            return path;
        }
    }
    return QString();
}

QImage AppIcon::image(int size)
{
    const QString path = themePath();
    if (!path.isEmpty()) {
        for (int available : kPixelSizes) {
            if (available < size) {
                continue;
            }
            // Read as PNG without asking every image-format plugin whether it is theirs, which
            // would load them all.
            QImageReader reader(fileFor(path, available), "png");
            reader.setAutoDetectImageFormat(false);
            const QImage file = reader.read();
            if (!file.isNull()) {
                return available == size ? file.convertToFormat(QImage::Format_ARGB32)
                                         : file.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                                               .convertToFormat(QImage::Format_ARGB32);
            }
        }
    }
    return painted(size);
}

QIcon AppIcon::icon()
{
    return QIcon(new AppIconEngine);
}

QImage AppIcon::painted(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 256.0, size / 256.0);
    QLinearGradient gradient(QPointF(15, 15), QPointF(241, 241));
    gradient.setColorAt(0, QColor(0xff, 0xb3, 0x40));
    gradient.setColorAt(1, QColor(0xe8, 0x76, 0x18));
    painter.setPen(Qt::NoPen);
    painter.setBrush(gradient);
    painter.drawEllipse(QPointF(128, 128), 113, 113);
    QPainterPath z;
    z.moveTo(83, 83);
    z.lineTo(173, 83);
    z.lineTo(87, 173);
    z.lineTo(173, 173);
    painter.setPen(QPen(Qt::white, 27, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(z);
    painter.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}
