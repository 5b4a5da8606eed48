#pragma once

#include "support/Sleeper.h"
#include "support/Wakeup.h"

#include <QList>

#include <chrono>
#include <memory>

// A Sleeper on a virtual clock: sleeps end only when the test advances time past their
// deadline (or when stopped). Records every requested duration.
class ManualSleeper final : public Sleeper {
public:
    QCoro::Task<> sleep(std::chrono::milliseconds duration, std::stop_token stop) override;

    // Moves the clock and wakes every sleep whose deadline has come; they resume on the next
    // event-loop pass.
    void advance(std::chrono::milliseconds by);

    std::chrono::milliseconds now() const { return m_now; }
    const QList<std::chrono::milliseconds>& requested() const { return m_requested; }
    // Sleeps that have neither ended nor been stopped.
    int pendingCount() const;

private:
    struct Pending {
        std::chrono::milliseconds deadline;
        std::weak_ptr<Wakeup> wakeup;
    };

    std::chrono::milliseconds m_now{0};
    QList<std::chrono::milliseconds> m_requested;
    QList<Pending> m_pending;
};
