#include "ui/popover/PriceAlertNoticesView.h"

#include "state/AppState.h"
#include "ui/kit/AccessibleRole.h"
#include "ui/kit/GlyphButton.h"
#include "ui/kit/GlyphView.h"
#include "ui/kit/Palette.h"
#include "ui/kit/PlainLabel.h"
#include "ui/kit/RoundedWell.h"
#include "ui/kit/Shapes.h"
#include "ui/kit/Typography.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

using Typography::Weight;

namespace {

constexpr int kOuterPaddingX = 12;
constexpr int kOuterPaddingTop = 4;
constexpr int kPaddingX = 12;
constexpr int kPaddingY = 8;
constexpr int kHeaderSpacing = 8;
constexpr int kLinesSpacing = 4;
constexpr QSize kCloseFrame{20, 20};

} // namespace

PriceAlertNoticesView::PriceAlertNoticesView(AppState& appState, QWidget* parent)
    : QWidget(parent)
    , m_appState(appState)
{
    setObjectName(QStringLiteral("priceAlertNotices"));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(kOuterPaddingX, kOuterPaddingTop, kOuterPaddingX, 0);
    // Orange says "look", not "failed".
    m_strip = new RoundedWell(Palette::orange(0.1), Palette::orange(0.24), kCornerRadius, this);
    m_strip->setObjectName(QStringLiteral("priceAlertNoticesStrip"));
    AccessibleRole::set(*m_strip, QAccessible::AlertMessage);
    outer->addWidget(m_strip);

    auto* stack = new QVBoxLayout(m_strip);
    stack->setContentsMargins(kPaddingX, kPaddingY, kPaddingX - 4, kPaddingY);
    stack->setSpacing(kLinesSpacing);
    auto* header = new QHBoxLayout;
    header->setSpacing(kHeaderSpacing);
    header->addWidget(new GlyphView(Glyphs::Glyph::BellFill, 12, Weight::Semibold, Palette::orange(), m_strip));
    auto* title = new PlainLabel(tr("价格提醒"), Typography::font(12, Weight::Semibold), Palette::black(0.78),
                                 QStringLiteral("priceAlertNoticesTitle"), m_strip);
    header->addWidget(title);
    header->addStretch(1);
    auto* close =
        new GlyphButton(Glyphs::Glyph::Xmark, 10, Weight::Semibold, Palette::black(0.5), kCloseFrame, m_strip);
    close->setObjectName(QStringLiteral("priceAlertNoticesClose"));
    close->setAccessibleName(tr("知道了"));
    header->addWidget(close);
    stack->addLayout(header);
    m_lines = new PlainLabel(QString(), Typography::font(12), Palette::black(0.72),
                             QStringLiteral("priceAlertNoticesLines"), m_strip);
    m_lines->setWordWrap(true);
    m_lines->setTextInteractionFlags(Qt::TextSelectableByMouse);
    stack->addWidget(m_lines);

    connect(close, &QAbstractButton::clicked, this, [this] { m_appState.priceAlerts().dismissUndelivered(); });
    connect(&m_appState.priceAlerts(), &PriceAlerts::undeliveredChanged, this, &PriceAlertNoticesView::render);
    render();
}

QString PriceAlertNoticesView::text() const
{
    return m_lines->text();
}

void PriceAlertNoticesView::render()
{
    QStringList lines;
    for (const PriceAlertNotice& notice : m_appState.priceAlerts().undelivered()) {
        lines.append(notice.body);
    }
    m_lines->setText(lines.join(QLatin1Char('\n')));
    m_strip->setAccessibleName(tr("价格提醒：%1").arg(lines.join(QStringLiteral("；"))));
    setVisible(!lines.isEmpty());
}
