#include "state/PriceAlerts.h"

#include "model/WatchlistEntry.h"
#include "state/AppState.h"

#include <algorithm>
#include <cmath>

PriceAlerts::PriceAlerts(AppState& state)
    : QObject(&state)
    , m_state(state)
{
}

void PriceAlerts::setEnabled(bool enabled)
{
    if (std::exchange(m_isEnabled, enabled) != enabled) {
        Q_EMIT changed();
    }
}

QList<PriceAlert> PriceAlerts::alertsOf(const QString& tokenID) const
{
    QList<PriceAlert> found;
    for (const PriceAlert& alert : m_alerts) {
        if (alert.tokenID == tokenID) {
            found.append(alert);
        }
    }
    return found;
}

std::optional<QString> PriceAlerts::add(const QString& tokenID, PriceAlert::Kind kind, double threshold)
{
    if (!std::isfinite(threshold) || threshold <= 0) {
        return std::nullopt;
    }
    PriceAlert alert;
    alert.id = WatchlistEntry::makeID();
    alert.tokenID = tokenID.toUpper();
    alert.kind = kind;
    alert.threshold = threshold;
    m_alerts.append(alert);
    Q_EMIT changed();
    return alert.id;
}

void PriceAlerts::setAlertEnabled(const QString& alertID, bool enabled)
{
    for (PriceAlert& alert : m_alerts) {
        if (alert.id == alertID && alert.isEnabled != enabled) {
            alert.isEnabled = enabled;
            Q_EMIT changed();
        }
    }
}

void PriceAlerts::remove(const QString& alertID)
{
    if (m_alerts.removeIf([&alertID](const PriceAlert& alert) { return alert.id == alertID; }) > 0) {
        Q_EMIT changed();
    }
}

PriceAlerts::Mark PriceAlerts::markOf(const QString& tokenID) const
{
    if (!m_isEnabled) {
        return Mark::None;
    }
    Mark mark = Mark::None;
    for (const PriceAlert& alert : m_alerts) {
        if (alert.tokenID != tokenID || !alert.isEnabled) {
            continue;
        }
        if (alert.isUnseen) {
            return Mark::Fired;
        }
        if (!alert.isFired) {
            mark = Mark::Armed;
        }
    }
    return mark;
}

void PriceAlerts::addUndelivered(const PriceAlertNotice& notice)
{
    m_undelivered.append(notice);
    Q_EMIT undeliveredChanged();
}

void PriceAlerts::dismissUndelivered()
{
    if (!m_undelivered.isEmpty()) {
        m_undelivered.clear();
        Q_EMIT undeliveredChanged();
    }
}

QString PriceAlerts::noticeTitle(const QString& symbol)
{
    return tr("%1 价格提醒").arg(symbol);
}

QString PriceAlerts::noticeLine(const QString& symbol, const PriceAlert& alert, const TokenSummary& quote)
{
    switch (alert.kind) {
    case PriceAlert::Kind::Above:
        return tr("%1 已升至 %2（高于 %3）")
            .arg(symbol, AppState::priceText(quote.price), AppState::priceText(alert.threshold));
    case PriceAlert::Kind::Below:
        return tr("%1 已跌至 %2（低于 %3）")
            .arg(symbol, AppState::priceText(quote.price), AppState::priceText(alert.threshold));
    case PriceAlert::Kind::ChangeBeyond:
        return tr("%1 24 小时涨跌 %2（超过 ±%3%）")
            .arg(symbol, AppState::changeText(quote.change24h), QString::number(alert.threshold));
    }
    return {};
}

QString PriceAlerts::conditionText(const PriceAlert& alert)
{
    switch (alert.kind) {
    case PriceAlert::Kind::Above:
        return tr("高于 %1").arg(AppState::priceText(alert.threshold));
    case PriceAlert::Kind::Below:
        return tr("低于 %1").arg(AppState::priceText(alert.threshold));
    case PriceAlert::Kind::ChangeBeyond:
        return tr("涨跌超过 ±%1%").arg(QString::number(alert.threshold));
    }
    return {};
}

void PriceAlerts::restore(bool enabled, QList<PriceAlert> alerts)
{
    m_isEnabled = enabled;
    m_alerts = std::move(alerts);
}

void PriceAlerts::dropTokens(const QList<QString>& tokenIDs)
{
    if (m_alerts.removeIf([&tokenIDs](const PriceAlert& alert) { return tokenIDs.contains(alert.tokenID); }) > 0) {
        Q_EMIT changed();
    }
}

void PriceAlerts::evaluate(const QList<TokenSummary>& quotes)
{
    Q_UNUSED(quotes);
}

void PriceAlerts::markSeen(const QString& tokenID)
{
    bool any = false;
    for (PriceAlert& alert : m_alerts) {
        if (alert.tokenID == tokenID && alert.isUnseen) {
            alert.isUnseen = false;
            any = true;
        }
    }
    if (any) {
        Q_EMIT changed();
    }
}
