#include "ui/settings/PriceAlertSettingsSection.h"

#include "state/AppState.h"
#include "ui/kit/PriceAlertListView.h"
#include "ui/kit/Typography.h"

#include "ui/kit/Palette.h"

#include <QCheckBox>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>

namespace {
// The settings' checkbox row: the platform's control font, one line high.
constexpr qreal kControlPointSize = 13;
constexpr int kCheckBoxHeight = 18;
constexpr int kSpacing = 8;
} // namespace

PriceAlertSettingsSection::PriceAlertSettingsSection(AppState& appState, QWidget* parent)
    : QWidget(parent)
    , m_appState(appState)
{
    setObjectName(QStringLiteral("priceAlertSettings"));
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(kSpacing);
    m_master = new QCheckBox(tr("启用价格提醒"), this);
    m_master->setObjectName(QStringLiteral("priceAlertsEnabledCheckBox"));
    m_master->setFont(Typography::font(kControlPointSize));
    m_master->setFixedHeight(kCheckBoxHeight);
    stack->addWidget(m_master);

    m_emptyHint = new QLabel(tr("还没有提醒。在自选列表中展开代币，用“提醒”添加。"), this);
    m_emptyHint->setObjectName(QStringLiteral("priceAlertsEmptyHint"));
    m_emptyHint->setFont(Typography::font(11));
    QPalette hintPalette = m_emptyHint->palette();
    hintPalette.setColor(QPalette::WindowText, Palette::secondary());
    m_emptyHint->setPalette(hintPalette);
    stack->addWidget(m_emptyHint);

    m_scroll = new QScrollArea(this);
    m_scroll->setObjectName(QStringLiteral("priceAlertSettingsScroll"));
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setWidgetResizable(true);
    m_scroll->setFocusPolicy(Qt::NoFocus);
    m_scroll->viewport()->setAutoFillBackground(false);
    // A thin handle rather than the style's arrowed bar, which would crowd six short lines.
    m_scroll->verticalScrollBar()->setStyleSheet(QStringLiteral(
        "QScrollBar:vertical { width: 6px; background: transparent; margin: 0; }"
        "QScrollBar::handle:vertical { background: rgba(0, 0, 0, 50); border-radius: 3px; min-height: 24px; }"
        "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
        "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: transparent; }"));
    m_list = new PriceAlertListView(appState, std::nullopt);
    m_list->setAutoFillBackground(false);
    m_list->setFallbackFocus(m_master);
    m_scroll->setWidget(m_list);
    stack->addWidget(m_scroll);

    connect(m_master, &QCheckBox::clicked, this, [this](bool on) { m_appState.priceAlerts().setEnabled(on); });
    connect(&appState.priceAlerts(), &PriceAlerts::changed, this, &PriceAlertSettingsSection::sync);
    connect(m_list, &PriceAlertListView::countChanged, this, &PriceAlertSettingsSection::sync);
    sync();
}

QSize PriceAlertSettingsSection::sizeHint() const
{
    return {kWidth, layout()->sizeHint().height()};
}

void PriceAlertSettingsSection::sync()
{
    m_master->setChecked(m_appState.priceAlerts().isEnabled());
    // As tall as the list up to kVisibleLines; beyond that it scrolls.
    const int lines = std::min(m_list->count(), kVisibleLines);
    const int height =
        lines == 0 ? 0 : lines * PriceAlertListView::kLineHeight + (lines - 1) * PriceAlertListView::kLineSpacing;
    m_scroll->setFixedHeight(height);
    m_scroll->setVisible(lines > 0);
    m_emptyHint->setVisible(lines == 0);
}
