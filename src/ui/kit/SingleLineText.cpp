#include "ui/kit/SingleLineText.h"

#include <QFontMetricsF>

#include <algorithm>

namespace SingleLineText {

QString flattened(QString text)
{
    for (QChar& c : text) {
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QLatin1Char('\t') || c == QLatin1Char('\v') ||
            c == QLatin1Char('\f') || c == QChar::LineSeparator || c == QChar::ParagraphSeparator || c == QChar(0x85)) {
            c = QLatin1Char(' ');
        }
    }
    return text;
}

QString elided(const QString& text, const QFont& font, qreal width)
{
    return QFontMetricsF(font).elidedText(flattened(text), Qt::ElideRight, std::max<qreal>(width, 0));
}

} // namespace SingleLineText
