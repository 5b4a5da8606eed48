#include "state/AppState.h"

#include "support/DecimalFormat.h"

#include <QLocale>

QString AppState::priceText(double price)
{
    if (!(price > 0)) {
        return QStringLiteral("--");
    }
    // Below a cent, fixed digits would read as zero; four significant ones keep the price legible.
    const QString text = price < kSubCentPrice ? DecimalFormat::significantHalfEven(price, kSubCentDigits, QLocale())
                                               : DecimalFormat::fixedHalfEven(price, price >= 1 ? 2 : 4, QLocale());
    return text.isEmpty() ? DecimalFormat::shortest(price) : text;
}

QString AppState::changeText(double change)
{
    if (change == 0) {
        return QStringLiteral("--");
    }
    const QString prefix = change > 0 ? QStringLiteral("+") : QString();
    return prefix + DecimalFormat::cFixed2(change) + QLatin1Char('%');
}

std::optional<TokenSummary> AppState::pinnedMenuBarToken() const
{
    for (const WatchlistEntry& entry : m_watchlistEntries) {
        if (entry.isPinnedToMenuBar) {
            const auto it = m_tokenSnapshots.constFind(entry.tokenID);
            return it == m_tokenSnapshots.constEnd() ? std::nullopt : std::optional<TokenSummary>(*it);
        }
    }
    const TokenSummary* first = firstWatchlistToken();
    return first ? std::optional<TokenSummary>(*first) : std::nullopt;
}

QString AppState::menuBarDisplayText() const
{
    const auto token = pinnedMenuBarToken();
    return token ? menuBarText(*token) : kFallbackTitle;
}

QString AppState::menuBarText(const TokenSummary& token) const
{
    QStringList parts;
    if (m_preferences.showsMenuBarSymbol) {
        parts.append(token.symbol);
    }
    parts.append(priceText(token.price));
    if (m_preferences.showsMenuBarChange) {
        parts.append(changeText(token.change24h));
    }
    return parts.join(QLatin1Char(' '));
}
