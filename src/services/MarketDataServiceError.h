#pragma once

#include "support/Error.h"

// The errors our own checks of a backend answer raise.
class MarketDataServiceError {
public:
    enum class Kind { HttpStatus, InvalidResponse };

    // The backend answered with a status outside 200 to 299.
    static MarketDataServiceError httpStatus(qint64 code) { return {Kind::HttpStatus, code}; }
    // The answer was not an HTTP response at all.
    static MarketDataServiceError invalidResponse() { return {Kind::InvalidResponse, 0}; }

    Kind kind() const { return m_kind; }
    qint64 statusCode() const { return m_code; }
    QString errorDescription() const;

    // No failure reason or recovery suggestion: the description is the whole message.
    Error toError() const;
    operator Error() const { return toError(); }

private:
    MarketDataServiceError(Kind kind, qint64 code)
        : m_kind(kind)
        , m_code(code)
    {
    }

    Kind m_kind;
    qint64 m_code;
};
