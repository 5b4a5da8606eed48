#include "Flight.h"

void Flight::finish()
{
    m_done = true;
    for (const std::shared_ptr<Wakeup>& waiter : std::exchange(m_waiters, {})) {
        waiter->wake();
    }
}

QCoro::Task<> Flight::wait(std::shared_ptr<Flight> flight)
{
    if (flight->m_done) {
        co_return;
    }
    const std::shared_ptr<Wakeup> wakeup = Wakeup::create();
    flight->m_waiters.push_back(wakeup);
    co_await wakeup->wait({});
}
