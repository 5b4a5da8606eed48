#pragma once

#include <QColor>
#include <QWidget>

// A tinted rounded area with a hairline edge, for grouping what sits inside it (the search
// field's well, the alerts strip). Children lay themselves out on top.
class RoundedWell final : public QWidget {
public:
    RoundedWell(const QColor& fill, const QColor& edge, qreal radius, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_fill;
    QColor m_edge;
    qreal m_radius;
};
