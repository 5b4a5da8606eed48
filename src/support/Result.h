#pragma once

#include "support/Error.h"

#include <utility>
#include <variant>

// A value or the Error that prevented it (std::expected arrives only with C++23).
template <typename T> class Result {
public:
    // An empty error; only there because QCoro::waitFor needs a default-constructible result.
    Result()
        : m_state(std::in_place_index<1>)
    {
    }
    Result(T value)
        : m_state(std::in_place_index<0>, std::move(value))
    {
    }
    Result(Error error)
        : m_state(std::in_place_index<1>, std::move(error))
    {
    }

    bool ok() const { return m_state.index() == 0; }
    explicit operator bool() const { return ok(); }

    const T& value() const& { return std::get<0>(m_state); }
    T& value() & { return std::get<0>(m_state); }
    T&& value() && { return std::get<0>(std::move(m_state)); }
    const Error& error() const { return std::get<1>(m_state); }

private:
    std::variant<T, Error> m_state;
};
