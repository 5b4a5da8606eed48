#pragma once

#include <QFont>
#include <QString>

// Fonts by size in points, where one point is one device-independent pixel.
namespace Typography {

enum class Weight { Light, Regular, Medium, Semibold, Bold };
enum class Design { Default, Rounded };

// Noto Sans CJK SC when installed (it carries Latin and Chinese in one design), else the
// desktop's default sans-serif family.
QString defaultFamily();

// The weight to ask of `family`: the named weight, except that semibold takes the family's real
// face between medium and bold where it has one, rather than falling onto bold.
QFont::Weight faceWeight(const QString& family, Weight weight);

// The first installed family of a short list of rounded sans-serif faces, or the default family
// when none of them is installed.
QString roundedFamily();

// Pixel sizes are whole in QFont, so a fractional size is rounded to the nearest pixel (at least
// 1). Painters that need the exact fractional size scale by exactScale() around the text.
QFont font(qreal pointSize, Weight weight = Weight::Regular, Design design = Design::Default);

// Factor from the font's whole pixel size to the requested size.
qreal exactScale(const QFont& font, qreal pointSize);

QFont::Weight qtWeight(Weight weight);

} // namespace Typography
