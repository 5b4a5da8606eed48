#include "ui/kit/LayerCache.h"

#include <QCache>
#include <QPaintEngine>
#include <QPainter>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <memory>

namespace LayerCache {

namespace {

bool isWhole(qreal value)
{
    return std::abs(value - std::round(value)) < 1e-6;
}

} // namespace

QImage render(const QSizeF& size, qreal ratio, const std::function<void(QPainter&)>& draw)
{
    const int width = std::max(1, int(std::ceil(size.width() * ratio)));
    const int height = std::max(1, int(std::ceil(size.height() * ratio)));
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    image.setDevicePixelRatio(ratio);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    draw(painter);
    painter.end();
    return image;
}

QImage layer(const QString& key, const QSizeF& size, qreal ratio, const std::function<void(QPainter&)>& draw)
{
    thread_local QCache<QString, QImage> cache(kMaxBytes);
    if (const QImage* image = cache.object(key))
        return *image;
    const QImage image = render(size, ratio, draw);
    cache.insert(key, std::make_unique<QImage>(image).release(), std::max<qsizetype>(image.sizeInBytes(), 1));
    return image;
}

qreal deviceRatio(const QPainter& painter)
{
    // The engine's device is the real target (also when a widget is rendered into an image);
    // its ratio, unlike the painter's transform, does not drift during a scale animation.
    const QPaintEngine* engine = painter.paintEngine();
    const QPaintDevice* device = engine && engine->paintDevice() ? engine->paintDevice() : painter.device();
    const qreal ratio = device ? device->devicePixelRatio() : 1.0;
    return std::isfinite(ratio) && ratio > 1.0 ? std::min(ratio, 8.0) : 1.0;
}

bool drawExact(QPainter& painter, const QPointF& topLeft, const QImage& layer)
{
    const QTransform device = painter.deviceTransform();
    if (device.type() > QTransform::TxScale || device.m11() != layer.devicePixelRatio() ||
        device.m22() != layer.devicePixelRatio())
        return false;
    const QPointF corner = device.map(topLeft);
    if (!isWhole(corner.x()) || !isWhole(corner.y()))
        return false;
    // Smooth transformation would send even a 1:1 copy down the slow filtering path.
    const bool smooth = painter.testRenderHint(QPainter::SmoothPixmapTransform);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(topLeft, layer);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, smooth);
    return true;
}

} // namespace LayerCache
