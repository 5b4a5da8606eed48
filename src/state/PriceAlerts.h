#pragma once

#include "model/PriceAlert.h"
#include "model/TokenSummary.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <optional>

class AppState;

// What one token's alerts have to say after one refresh: all of its alerts that fired, merged
// into one notification.
struct PriceAlertNotice {
    QString tokenID;
    QString symbol;
    QString title; // "BTC 价格提醒"
    QString body;  // "BTC 已升至 80,123.45（高于 80,000.00）", one line per alert that fired
    friend bool operator==(const PriceAlertNotice&, const PriceAlertNotice&) = default;
};

// The user's price alerts and the master switch, owned by AppState, which stores them with the
// watchlist, drops a token's alerts with its last entry and evaluates them after each refresh
// that brought quotes. Main thread only. Every change is stored at once and announced with
// changed() after the write.
class PriceAlerts : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isEnabled READ isEnabled WRITE setEnabled NOTIFY changed)

public:
    // A fired price alert re-arms once the price is back past its threshold by this share of it;
    // a change alert once the change is back inside the threshold by this share of it.
    static constexpr double kPriceRearmMargin = 0.005;
    static constexpr double kChangeRearmMargin = 0.1;

    explicit PriceAlerts(AppState& state);

    // The master switch: off, nothing is evaluated or notified and no row shows a bell.
    bool isEnabled() const { return m_isEnabled; }
    void setEnabled(bool enabled);

    // In the order they were added.
    const QList<PriceAlert>& alerts() const { return m_alerts; }
    QList<PriceAlert> alertsOf(const QString& tokenID) const;

    // A new armed alert; its id, or nothing when the threshold is not a positive finite number
    // or the token is not watched.
    std::optional<QString> add(const QString& tokenID, PriceAlert::Kind kind, double threshold);
    void setAlertEnabled(const QString& alertID, bool enabled);
    void remove(const QString& alertID);

    // Ordered: a row shows the strongest mark of its alerts.
    enum class Mark { None, Armed, Fired };
    Q_ENUM(Mark)
    // The bell each token's rows show, in one pass: Fired while one of its alerts fired unseen,
    // Armed while one is enabled and armed. Tokens without a bell, and every token with the
    // master switch off, are left out.
    QHash<QString, Mark> marks() const;

    // Fired alerts that no notification service took, oldest first: the tooltip and the popover
    // show them until the user has seen them (dismissUndelivered()).
    const QList<PriceAlertNotice>& undelivered() const { return m_undelivered; }
    void addUndelivered(const PriceAlertNotice& notice);
    void dismissUndelivered();

    // Display texts; prices as the rows show them.
    static QString noticeTitle(const QString& symbol);
    static QString noticeLine(const QString& symbol, const PriceAlert& alert, const TokenSummary& quote);
    // "高于 80,000.00", "低于 72,000.00", "涨跌超过 ±5%": how a list shows one alert.
    static QString conditionText(const PriceAlert& alert);

Q_SIGNALS:
    // After the list, a state or the master switch changed.
    void changed();
    // After a refresh: one notice per token whose alerts fired, in watchlist order.
    void fired(const QList<PriceAlertNotice>& notices);
    void undeliveredChanged();

private:
    friend class AppState;
    // Loading and storing go through AppState's document.
    void restore(bool enabled, QList<PriceAlert> alerts);
    // Alerts whose token is no longer watched.
    void dropTokens(const QList<QString>& tokenIDs);
    // Evaluates the enabled alerts against quotes that arrived from the market, and emits fired().
    void evaluate(const QList<TokenSummary>& quotes);
    // The user expanded the row: its fired alerts count as seen.
    void markSeen(const QString& tokenID);

    AppState& m_state;
    bool m_isEnabled = true;
    QList<PriceAlert> m_alerts;
    QList<PriceAlertNotice> m_undelivered;
};
