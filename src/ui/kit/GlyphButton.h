#pragma once

#include "ui/kit/Glyphs.h"

#include <QAbstractButton>

// A borderless button whose whole fixed-size frame is the hit area and whose label is one glyph
// drawn centred in it. Pressed, the glyph dims a little, as a plain button's label does.
class GlyphButton : public QAbstractButton {
    Q_OBJECT
public:
    GlyphButton(Glyphs::Glyph glyph, qreal pointSize, Typography::Weight weight, const QColor& color, QSize frame,
                QWidget* parent = nullptr);

    Glyphs::Glyph glyph() const { return m_glyph; }
    qreal pointSize() const { return m_pointSize; }
    Typography::Weight weight() const { return m_weight; }
    QColor color() const { return m_color; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;

private:
    Glyphs::Glyph m_glyph;
    qreal m_pointSize;
    Typography::Weight m_weight;
    QColor m_color;
    QSize m_frame;
};
