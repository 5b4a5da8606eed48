#include "ui/kit/SegmentedControl.h"

#include "ui/kit/Palette.h"
#include "ui/kit/Shapes.h"
#include "ui/kit/Typography.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace {

constexpr qreal kSegmentedRadius = 6;
constexpr qreal kSegmentInset = 2;
// The platform's label colour.
constexpr qreal kLabelOpacity = 0.85;

} // namespace

SegmentedControl::SegmentedControl(QWidget* parent)
    : SegmentedControl(kDefaultSize, kDefaultPointSize, parent)
{
}

SegmentedControl::SegmentedControl(QSize size, qreal pointSize, QWidget* parent)
    : QTabBar(parent)
    , m_size(size)
{
    setDrawBase(false);
    setExpanding(false);
    setUsesScrollButtons(false);
    setElideMode(Qt::ElideNone);
    setFont(Typography::font(pointSize));
    setFixedSize(m_size);
    setFocusPolicy(Qt::TabFocus);
}

QSize SegmentedControl::tabSizeHint(int) const
{
    return {m_size.width() / std::max(count(), 1), m_size.height()};
}

QSize SegmentedControl::minimumTabSizeHint(int index) const
{
    return tabSizeHint(index);
}

void SegmentedControl::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const QPainterPath trackPath = Shapes::continuousRoundedRect(track, kSegmentedRadius);
    painter.fillPath(trackPath, Palette::black(0.06));
    painter.strokePath(trackPath, QPen(Palette::black(0.06), 1));

    const int current = currentIndex();
    if (current >= 0) {
        const QRectF pill =
            QRectF(tabRect(current)).adjusted(kSegmentInset, kSegmentInset, -kSegmentInset, -kSegmentInset);
        const qreal radius = kSegmentedRadius - kSegmentInset / 2;
        // A soft shadow one point below the pill lifts it off the track.
        painter.fillPath(Shapes::continuousRoundedRect(pill.translated(0, 0.5), radius), Palette::black(0.12));
        painter.fillPath(Shapes::continuousRoundedRect(pill, radius), Palette::white());
    }
    // The ring marks keyboard focus only, not the focus the window hands out when it opens.
    if (hasFocus() && window()->testAttribute(Qt::WA_KeyboardFocusChange)) {
        painter.strokePath(Shapes::continuousRoundedRect(track.adjusted(-0.5, -0.5, 0.5, 0.5), kSegmentedRadius),
                           QPen(Palette::blue(0.5), 2));
    }

    painter.setFont(font());
    painter.setPen(Palette::black(kLabelOpacity));
    for (int index = 0; index < count(); ++index) {
        painter.drawText(tabRect(index), Qt::AlignCenter, tabText(index));
    }
}
