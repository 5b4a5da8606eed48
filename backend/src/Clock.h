#pragma once

#include <chrono>
#include <functional>

using SteadyTime = std::chrono::steady_clock::time_point;

// Where freshness is measured. Injected so that tests can move time by hand instead of waiting
// out a fifteen-second price lifetime.
using Clock = std::function<SteadyTime()>;

inline Clock steadyClock()
{
    return [] { return std::chrono::steady_clock::now(); };
}
