#pragma once

#include "ui/kit/Glyphs.h"

#include <QWidget>

// A glyph as a widget: sized to the glyph, drawing it centred in whatever rectangle it gets.
// It lets mouse events through, so it can sit inside a button as its label.
class GlyphView : public QWidget {
    Q_OBJECT
public:
    GlyphView(Glyphs::Glyph glyph, qreal pointSize, Typography::Weight weight, const QColor& color,
              QWidget* parent = nullptr);

    Glyphs::Glyph glyph() const { return m_glyph; }
    qreal pointSize() const { return m_pointSize; }
    Typography::Weight weight() const { return m_weight; }
    QColor color() const { return m_color; }

    void setGlyph(Glyphs::Glyph glyph);
    void setPointSize(qreal pointSize);
    void setWeight(Typography::Weight weight);
    void setColor(const QColor& color);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void changeShape();

    Glyphs::Glyph m_glyph;
    qreal m_pointSize;
    Typography::Weight m_weight;
    QColor m_color;
};
