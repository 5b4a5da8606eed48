#pragma once

#include <QColor>

// Fixed colours of the interface. Every colour is the same in light and dark appearance: the
// views were designed against a light popover and keep that look everywhere.
namespace Palette {

// The light-appearance system colours that the views name.
enum class SystemColor { Red, Green, Orange, Yellow, Blue, Teal, Purple, Pink, Indigo, Cyan, Gray };

// sRGB components and opacity, each from 0 to 1 (clamped).
QColor rgb(qreal red, qreal green, qreal blue, qreal opacity = 1.0);
QColor black(qreal opacity = 1.0);
QColor white(qreal opacity = 1.0);
QColor system(SystemColor color, qreal opacity = 1.0);

// The system colours by name, at an opacity.
QColor red(qreal opacity = 1.0);
QColor green(qreal opacity = 1.0);
QColor orange(qreal opacity = 1.0);
QColor yellow(qreal opacity = 1.0);
QColor blue(qreal opacity = 1.0);
QColor teal(qreal opacity = 1.0);
QColor purple(qreal opacity = 1.0);
QColor pink(qreal opacity = 1.0);
QColor indigo(qreal opacity = 1.0);
QColor cyan(qreal opacity = 1.0);
QColor gray(qreal opacity = 1.0);

// The secondary label style: black at kSecondaryOpacity, a fixed stand-in for the platform's
// hierarchical secondary foreground on a light background.
inline constexpr qreal kSecondaryOpacity = 0.5;
QColor secondary();

// Divider lines and window edges: black at 0.1, a fixed stand-in for the platform's separator.
QColor separator();

// The light window background behind the settings content (236, 236, 236).
QColor windowBackground();

// The colour with its own opacity multiplied by `opacity`, as when a tinted layer is faded.
QColor withOpacity(const QColor& color, qreal opacity);

} // namespace Palette
