#pragma once

#include "ui/kit/Typography.h"

#include <QColor>
#include <QPainterPath>
#include <QRectF>

class QPainter;

// The symbol images of the interface, drawn as our own vector outlines. Each glyph is designed
// on an em of one point size and sits centred on its bounding box, so a glyph at size 17 is about
// as large as 17-pixel text; heavier weights thicken the strokes.
namespace Glyphs {

enum class Glyph {
    Plus,
    Ellipsis,
    ExclamationmarkTriangleFill,
    ChevronUp,
    ChevronDown,
    BitcoinsignCircle,
    ArrowUturnBackward,
    Magnifyingglass,
    XmarkCircle,
    Xmark,
    Bell,
    BellFill,
};

// Stroke width for a weight, as a fraction of the point size.
qreal strokeFraction(Typography::Weight weight);

// The filled outline of the glyph at a point size, centred on (0, 0). Fill it (non-zero rule)
// in one colour; overlapping parts are already merged, so translucent colours stay even.
QPainterPath path(Glyph glyph, qreal pointSize, Typography::Weight weight = Typography::Weight::Regular);

// Size of the glyph's bounding box at a point size.
QSizeF size(Glyph glyph, qreal pointSize, Typography::Weight weight = Typography::Weight::Regular);

// Fills the glyph centred in `box`.
void paint(QPainter& painter, const QRectF& box, Glyph glyph, qreal pointSize, Typography::Weight weight,
           const QColor& color);

} // namespace Glyphs
