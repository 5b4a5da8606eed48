#include "state/PriceAlerts.h"

#include "model/WatchlistEntry.h"
#include "state/AppState.h"

#include <QDateTime>

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
    const QString normalized = tokenID.toUpper();
    const auto& entries = m_state.watchlistEntries();
    const bool watched = std::any_of(entries.cbegin(), entries.cend(), [&normalized](const WatchlistEntry& entry) {
        return entry.tokenID == normalized;
    });
    if (!std::isfinite(threshold) || threshold <= 0 || !watched) {
        return std::nullopt;
    }
    PriceAlert alert;
    alert.id = WatchlistEntry::makeID();
    alert.tokenID = normalized;
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

namespace {

// One alert's say in its row's bell; the strongest of a token's alerts wins.
PriceAlerts::Mark markOfAlert(const PriceAlert& alert)
{
    if (!alert.isEnabled) {
        return PriceAlerts::Mark::None;
    }
    if (alert.isUnseen) {
        return PriceAlerts::Mark::Fired;
    }
    return alert.isFired ? PriceAlerts::Mark::None : PriceAlerts::Mark::Armed;
}

} // namespace

QHash<QString, PriceAlerts::Mark> PriceAlerts::marks() const
{
    QHash<QString, Mark> marks;
    for (const PriceAlert& alert : m_alerts) {
        const Mark mark = markOfAlert(alert);
        if (m_isEnabled && mark != Mark::None) {
            Mark& kept = marks[alert.tokenID];
            kept = std::max(kept, mark);
        }
    }
    return marks;
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

namespace {

enum class Step { None, Fire, Rearm };

// What one fresh figure does to one alert. An alert fires at the threshold and re-arms only once
// the figure is back past it by a margin, so a price hovering at the threshold tells the user once.
Step stepFor(const PriceAlert& alert, double price, double change)
{
    const double t = alert.threshold;
    switch (alert.kind) {
    case PriceAlert::Kind::Above:
        return !alert.isFired ? (price >= t ? Step::Fire : Step::None)
                              : (price < t * (1 - PriceAlerts::kPriceRearmMargin) ? Step::Rearm : Step::None);
    case PriceAlert::Kind::Below:
        return !alert.isFired ? (price <= t ? Step::Fire : Step::None)
                              : (price > t * (1 + PriceAlerts::kPriceRearmMargin) ? Step::Rearm : Step::None);
    case PriceAlert::Kind::ChangeBeyond:
        return !alert.isFired
                   ? (std::abs(change) >= t ? Step::Fire : Step::None)
                   : (std::abs(change) < t * (1 - PriceAlerts::kChangeRearmMargin) ? Step::Rearm : Step::None);
    }
    return Step::None;
}

} // namespace

void PriceAlerts::evaluate(const QList<TokenSummary>& quotes)
{
    // Switched off, alerts are paused, not fed: an alert still armed when they are switched back
    // on fires on the first fresh quote past its threshold, whatever happened in between. That
    // tells the user where the price stands, once, and needs no bookkeeping while off.
    if (!m_isEnabled || m_alerts.isEmpty() || quotes.isEmpty()) {
        return;
    }
    // A quote without its time (an older backend) counts as fresh when it arrives, so a backend
    // that serves stale data again without saying so can fire an alert that re-armed meanwhile.
    const qint64 receivedAt = QDateTime::currentMSecsSinceEpoch();
    QHash<QString, const TokenSummary*> byToken;
    byToken.reserve(quotes.size());
    for (const TokenSummary& quote : quotes) {
        byToken.insert(quote.id.toUpper(), &quote);
    }

    bool stateChanged = false;
    QHash<QString, QStringList> lines;
    for (PriceAlert& alert : m_alerts) {
        if (!alert.isEnabled) {
            continue;
        }
        const TokenSummary* quote = byToken.value(alert.tokenID);
        // A price of 0 is no market figure (a token the exchange gave nothing for).
        if (!quote || quote->price == 0 || !std::isfinite(quote->price) || !std::isfinite(quote->change24h)) {
            continue;
        }
        const qint64 quotedAt = quote->quotedAt.value_or(receivedAt);
        if (alert.evaluatedQuoteTime && quotedAt <= *alert.evaluatedQuoteTime) {
            continue;
        }
        // Stored only with the next state change (the store syncs to disk): evaluating the same
        // quote again after a restart finds the state it left and does nothing.
        alert.evaluatedQuoteTime = quotedAt;
        switch (stepFor(alert, quote->price, quote->change24h)) {
        case Step::None:
            break;
        case Step::Fire:
            alert.isFired = true;
            alert.isUnseen = true;
            stateChanged = true;
            lines[alert.tokenID].append(noticeLine(quote->symbol, alert, *quote));
            break;
        case Step::Rearm:
            alert.isFired = false;
            stateChanged = true;
            break;
        }
    }
    if (stateChanged) {
        Q_EMIT changed();
    }
    if (lines.isEmpty()) {
        return;
    }
    QList<PriceAlertNotice> notices;
    for (const WatchlistEntry& entry : m_state.watchlistEntries()) {
        // take(): a token listed twice gets one notice.
        const QStringList tokenLines = lines.take(entry.tokenID);
        if (!tokenLines.isEmpty()) {
            const QString& symbol = byToken.value(entry.tokenID)->symbol;
            notices.append(PriceAlertNotice{entry.tokenID, symbol, noticeTitle(symbol), tokenLines.join(u'\n')});
        }
    }
    if (!notices.isEmpty()) {
        Q_EMIT fired(notices);
    }
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
