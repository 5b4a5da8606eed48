#include "shell/AppIcon.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QPainterPath>

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
            QImage file(fileFor(path, available));
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
    QIcon icon;
    const QString path = themePath();
    for (int size : kPixelSizes) {
        if (!path.isEmpty()) {
            icon.addFile(fileFor(path, size), QSize(size, size));
        } else {
            icon.addPixmap(QPixmap::fromImage(painted(size)));
        }
    }
    return icon;
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
