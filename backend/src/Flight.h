#pragma once

#include "support/Wakeup.h"

#include <QCoroTask>

#include <chrono>
#include <memory>
#include <vector>

// One upstream call in progress that any number of requests wait for, so that a crowd asking
// for the same data costs the exchange a single call. Main thread only.
class Flight {
public:
    bool isDone() const { return m_done; }
    // Wakes every waiter; they resume from the event loop.
    void finish();
    // Ends once finish() has been called (at once if it already has), or when `until` (on the
    // steady clock) has passed, whichever comes first.
    static QCoro::Task<> wait(std::shared_ptr<Flight> flight, std::chrono::steady_clock::time_point until);

private:
    std::vector<std::shared_ptr<Wakeup>> m_waiters;
    bool m_done = false;
};
