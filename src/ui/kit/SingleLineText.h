#pragma once

#include <QFont>
#include <QString>

// Texts that come from data (names, symbols, prices) are drawn on one line, cut with an
// ellipsis to their slot.
namespace SingleLineText {

// Line and paragraph breaks and tabs become spaces.
QString flattened(QString text);

// Flattened, then elided at the right to fit `width` in `font`.
QString elided(const QString& text, const QFont& font, qreal width);

} // namespace SingleLineText
