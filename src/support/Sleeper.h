#pragma once

#include <QCoroTask>

#include <chrono>
#include <memory>
#include <stop_token>

// The one way the app waits. Every wait ends at its deadline or as soon as its stop token is
// stopped, whichever comes first, and never fails. Injected so tests can run loop timing on a
// virtual clock.
class Sleeper {
public:
    virtual ~Sleeper() = default;

    // The returned task does not use the Sleeper after it starts, so a Sleeper may go away while
    // a sleep is pending.
    virtual QCoro::Task<> sleep(std::chrono::milliseconds duration, std::stop_token stop) = 0;
};

// Waits on a monotonic QTimer.
class TimerSleeper final : public Sleeper {
public:
    QCoro::Task<> sleep(std::chrono::milliseconds duration, std::stop_token stop) override;
};

std::shared_ptr<Sleeper> systemSleeper();
