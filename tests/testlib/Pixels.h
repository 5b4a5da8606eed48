// Reading rendered widgets back as pixels, at a given device pixel ratio.
#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>

namespace Pixels {

// `widget` drawn over `fill`; with `childrenOnly` without its own window background, as inside a row.
inline QImage render(QWidget& widget, qreal ratio, const QColor& fill = Qt::white, bool childrenOnly = true)
{
    QImage image(widget.size() * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(fill);
    if (childrenOnly) {
        widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    } else {
        widget.render(&image);
    }
    return image;
}

// The colour at a point given in points, at whatever ratio the image has.
inline QColor at(const QImage& image, qreal x, qreal y)
{
    const qreal r = image.devicePixelRatio();
    return image.pixelColor(int(x * r), int(y * r));
}

inline bool near(const QColor& a, const QColor& b, int tolerance = 3)
{
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance &&
           qAbs(a.blue() - b.blue()) <= tolerance;
}

inline QByteArray describe(const QColor& c)
{
    return QByteArray::number(c.red()) + ',' + QByteArray::number(c.green()) + ',' + QByteArray::number(c.blue());
}

} // namespace Pixels
