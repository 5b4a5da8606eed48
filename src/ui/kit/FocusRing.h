#pragma once

#include <QPainterPath>

class QPainter;
class QWidget;

// The ring around whatever has the keyboard focus, drawn in the palette's accent as the settings
// controls draw theirs. It shows only while the keyboard moves the focus, never after a click.
namespace FocusRing {

bool shows(const QWidget& widget);
// Strokes `shape` (in the widget's coordinates) with the ring's pen.
void paint(QPainter& painter, const QPainterPath& shape);
// Marks the focus as moved by the keyboard, for focus moves the widgets make on keys of their own.
void markKeyboardMove(QWidget& widget);

} // namespace FocusRing
