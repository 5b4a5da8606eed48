#include "testlib/ManualSleeper.h"

QCoro::Task<> ManualSleeper::sleep(std::chrono::milliseconds duration, std::stop_token stop)
{
    m_requested.append(duration);
    auto wakeup = Wakeup::create();
    m_pending.append(Pending{m_now + duration, wakeup});
    co_await wakeup->wait(std::move(stop));
}

void ManualSleeper::advance(std::chrono::milliseconds by)
{
    m_now += by;
    QList<Pending> later;
    for (const Pending& pending : std::as_const(m_pending)) {
        auto wakeup = pending.wakeup.lock();
        if (!wakeup) {
            continue;
        }
        if (pending.deadline <= m_now) {
            wakeup->wake();
        } else {
            later.append(pending);
        }
    }
    m_pending = later;
}

int ManualSleeper::pendingCount() const
{
    int count = 0;
    for (const Pending& pending : m_pending) {
        const auto wakeup = pending.wakeup.lock();
        count += wakeup && !wakeup->isWoken() ? 1 : 0;
    }
    return count;
}
