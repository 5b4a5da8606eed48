#include "ui/kit/PriceAlertListView.h"

#include "state/AppState.h"
#include "ui/kit/GlyphButton.h"
#include "ui/kit/Palette.h"
#include "ui/kit/PlainLabel.h"
#include "ui/kit/ToggleSwitch.h"
#include "ui/kit/Typography.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include <algorithm>

using Typography::Design;
using Typography::Weight;

namespace {
constexpr QSize kDeleteFrame{22, 22};
constexpr int kLineGap = 8;
constexpr qreal kOnOpacity = 0.72;
constexpr qreal kOffOpacity = 0.36;
} // namespace

class PriceAlertListView::Line : public QWidget {
public:
    Line(PriceAlertListView& list, const QString& alertID, bool showsSymbol)
        : QWidget(&list)
        , m_alertID(alertID)
    {
        setObjectName(QStringLiteral("priceAlertLine"));
        setFixedHeight(kLineHeight);
        auto* row = new QHBoxLayout(this);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(kLineGap);
        if (showsSymbol) {
            m_symbol = new PlainLabel(QString(), Typography::font(12, Weight::Semibold), Palette::black(0.74),
                                      QStringLiteral("priceAlertSymbol"), this);
            m_symbol->setMinimumWidth(48);
            row->addWidget(m_symbol);
        }
        m_condition = new PlainLabel(QString(), Typography::font(12, Weight::Semibold, Design::Rounded),
                                     Palette::black(kOnOpacity), QStringLiteral("priceAlertCondition"), this);
        row->addWidget(m_condition);
        m_firedTag = new PlainLabel(tr("已触发"), Typography::font(11, Weight::Medium), Palette::orange(),
                                    QStringLiteral("priceAlertFired"), this);
        row->addWidget(m_firedTag);
        row->addStretch(1);
        m_switch = new ToggleSwitch(this);
        m_switch->setObjectName(QStringLiteral("priceAlertSwitch"));
        row->addWidget(m_switch);
        m_delete = new GlyphButton(Glyphs::Glyph::Xmark, 10, Weight::Semibold, Palette::black(0.5), kDeleteFrame, this);
        m_delete->setObjectName(QStringLiteral("priceAlertDelete"));
        row->addWidget(m_delete);
        connect(m_switch, &QAbstractButton::toggled, this,
                [this, &list](bool on) { list.m_appState.priceAlerts().setAlertEnabled(m_alertID, on); });
        connect(m_delete, &QAbstractButton::clicked, this,
                [this, &list] { list.m_appState.priceAlerts().remove(m_alertID); });
    }

    const QString& alertID() const { return m_alertID; }
    QWidget* focusable(int column) const { return column == 0 ? static_cast<QWidget*>(m_switch) : m_delete; }
    int columnOf(const QWidget* widget) const { return widget == m_switch ? 0 : widget == m_delete ? 1 : -1; }

    void showAlert(const PriceAlert& alert, const QString& symbol)
    {
        const QString condition = PriceAlerts::conditionText(alert);
        if (m_symbol) {
            m_symbol->setText(symbol);
        }
        m_condition->setText(condition);
        m_condition->setColor(Palette::black(alert.isEnabled ? kOnOpacity : kOffOpacity));
        m_firedTag->setVisible(alert.isFired);
        const QSignalBlocker blocker(m_switch);
        m_switch->setChecked(alert.isEnabled);
        const QString named = m_symbol ? symbol + QLatin1Char(' ') + condition : condition;
        m_switch->setAccessibleName(tr("启用提醒：%1").arg(named));
        m_delete->setAccessibleName(tr("删除提醒：%1").arg(named));
        m_switch->update();
    }

private:
    QString m_alertID;
    PlainLabel* m_symbol = nullptr;
    PlainLabel* m_condition = nullptr;
    PlainLabel* m_firedTag = nullptr;
    ToggleSwitch* m_switch = nullptr;
    GlyphButton* m_delete = nullptr;
};

PriceAlertListView::PriceAlertListView(AppState& appState, std::optional<QString> tokenID, QWidget* parent)
    : QWidget(parent)
    , m_appState(appState)
    , m_tokenID(std::move(tokenID))
{
    setObjectName(QStringLiteral("priceAlertList"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_layout = new QVBoxLayout(this);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(kLineSpacing);
    connect(&m_appState.priceAlerts(), &PriceAlerts::changed, this, &PriceAlertListView::sync);
    sync();
}

QSize PriceAlertListView::sizeHint() const
{
    const int n = count();
    return {0, n == 0 ? 0 : n * kLineHeight + (n - 1) * kLineSpacing};
}

QSize PriceAlertListView::minimumSizeHint() const
{
    return sizeHint();
}

void PriceAlertListView::sync()
{
    const PriceAlerts& alerts = m_appState.priceAlerts();
    const QList<PriceAlert> shown = m_tokenID ? alerts.alertsOf(*m_tokenID) : alerts.alerts();
    const QList<Line*> before = m_lines;
    // Where the focus is, so a deleted line hands it to its neighbour.
    int focusedIndex = -1;
    int focusedColumn = -1;
    for (int i = 0; i < m_lines.size(); ++i) {
        if (const int column = m_lines.at(i)->columnOf(QApplication::focusWidget()); column >= 0) {
            focusedIndex = i;
            focusedColumn = column;
        }
    }
    QList<Line*> kept;
    for (const PriceAlert& alert : shown) {
        const auto it = std::find_if(m_lines.begin(), m_lines.end(),
                                     [&alert](const Line* line) { return line->alertID() == alert.id; });
        Line* line = nullptr;
        if (it != m_lines.end()) {
            line = *it;
            m_lines.erase(it);
        } else {
            line = new Line(*this, alert.id, !m_tokenID);
        }
        const QString symbol = m_appState.displayedToken(alert.tokenID).symbol;
        line->showAlert(alert, symbol.isEmpty() ? alert.tokenID : symbol);
        kept.append(line);
    }
    const bool lostFocus = focusedIndex >= 0 && !kept.contains(before.at(focusedIndex));
    for (Line* gone : std::as_const(m_lines)) {
        gone->hide();
        // The deletion may come from the line's own button.
        gone->deleteLater();
    }
    m_lines = kept;
    for (int i = 0; i < m_lines.size(); ++i) {
        m_layout->insertWidget(i, m_lines.at(i));
        m_lines.at(i)->setVisible(true);
    }
    if (lostFocus) {
        if (!m_lines.isEmpty()) {
            const int to = std::min(focusedIndex, int(m_lines.size()) - 1);
            m_lines.at(to)->focusable(focusedColumn)->setFocus(Qt::OtherFocusReason);
        } else if (m_fallbackFocus) {
            m_fallbackFocus->setFocus(Qt::OtherFocusReason);
        }
    }
    if (m_lines.size() != before.size()) {
        updateGeometry();
        Q_EMIT countChanged();
    }
}
