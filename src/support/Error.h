#pragma once

#include <QString>

#include <optional>

// An error as the user may see it: a one-line description and, when the source offers them,
// a reason and a suggestion. Every failure of the market data layer travels as one of these.
class Error {
public:
    enum class Domain {
        MarketDataService, // our own HTTP status / response checks
        Transport,         // the network layer: refused, timed out, cancelled, too large
        Decoding,          // a body that is not the JSON we expect
    };

    Error() = default;
    Error(Domain domain, qint64 code, QString description, std::optional<QString> failureReason = std::nullopt,
          std::optional<QString> recoverySuggestion = std::nullopt)
        : m_domain(domain)
        , m_code(code)
        , m_description(std::move(description))
        , m_failureReason(std::move(failureReason))
        , m_recoverySuggestion(std::move(recoverySuggestion))
    {
    }

    Domain domain() const { return m_domain; }
    // Domain-specific: the HTTP status, the network layer's error number, or 0.
    qint64 code() const { return m_code; }
    const QString& localizedDescription() const { return m_description; }
    const std::optional<QString>& localizedFailureReason() const { return m_failureReason; }
    const std::optional<QString>& localizedRecoverySuggestion() const { return m_recoverySuggestion; }

    friend bool operator==(const Error&, const Error&) = default;

private:
    Domain m_domain = Domain::Transport;
    qint64 m_code = 0;
    QString m_description;
    std::optional<QString> m_failureReason;
    std::optional<QString> m_recoverySuggestion;
};
