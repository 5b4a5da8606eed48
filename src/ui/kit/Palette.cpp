#include "ui/kit/Palette.h"

#include <QtGlobal>

#include <array>

namespace Palette {

namespace {

struct Rgb8 {
    int red;
    int green;
    int blue;
};

constexpr std::array<Rgb8, 11> kSystemColors{{
    {255, 59, 48},   // red
    {52, 199, 89},   // green
    {255, 149, 0},   // orange
    {255, 204, 0},   // yellow
    {0, 122, 255},   // blue
    {48, 176, 199},  // teal
    {175, 82, 222},  // purple
    {255, 45, 85},   // pink
    {88, 86, 214},   // indigo
    {50, 173, 230},  // cyan
    {142, 142, 147}, // gray
}};

qreal unit(qreal value)
{
    // NaN compares false both ways; treat it as 0 rather than let it reach QColor's range check.
    if (!(value > 0.0))
        return 0.0;
    return value < 1.0 ? value : 1.0;
}

} // namespace

QColor rgb(qreal red, qreal green, qreal blue, qreal opacity)
{
    return QColor::fromRgbF(float(unit(red)), float(unit(green)), float(unit(blue)), float(unit(opacity)));
}

QColor black(qreal opacity)
{
    return rgb(0, 0, 0, opacity);
}

QColor white(qreal opacity)
{
    return rgb(1, 1, 1, opacity);
}

QColor system(SystemColor color, qreal opacity)
{
    const Rgb8 c = kSystemColors.at(std::size_t(color));
    return rgb(c.red / 255.0, c.green / 255.0, c.blue / 255.0, opacity);
}

QColor red(qreal opacity)
{
    return system(SystemColor::Red, opacity);
}

QColor green(qreal opacity)
{
    return system(SystemColor::Green, opacity);
}

QColor orange(qreal opacity)
{
    return system(SystemColor::Orange, opacity);
}

QColor yellow(qreal opacity)
{
    return system(SystemColor::Yellow, opacity);
}

QColor blue(qreal opacity)
{
    return system(SystemColor::Blue, opacity);
}

QColor teal(qreal opacity)
{
    return system(SystemColor::Teal, opacity);
}

QColor purple(qreal opacity)
{
    return system(SystemColor::Purple, opacity);
}

QColor pink(qreal opacity)
{
    return system(SystemColor::Pink, opacity);
}

QColor indigo(qreal opacity)
{
    return system(SystemColor::Indigo, opacity);
}

QColor cyan(qreal opacity)
{
    return system(SystemColor::Cyan, opacity);
}

QColor gray(qreal opacity)
{
    return system(SystemColor::Gray, opacity);
}

QColor secondary()
{
    return black(kSecondaryOpacity);
}

QColor separator()
{
    return black(0.1);
}

QColor windowBackground()
{
    return rgb(236 / 255.0, 236 / 255.0, 236 / 255.0);
}

QColor withOpacity(const QColor& color, qreal opacity)
{
    QColor result = color;
    result.setAlphaF(float(unit(color.alphaF() * unit(opacity))));
    return result;
}

} // namespace Palette
