#include "Flight.h"

#include <QTimer>

void Flight::finish()
{
    m_done = true;
    for (const std::shared_ptr<Wakeup>& waiter : std::exchange(m_waiters, {})) {
        waiter->wake();
    }
}

QCoro::Task<> Flight::wait(std::shared_ptr<Flight> flight, std::chrono::steady_clock::time_point until)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    if (flight->m_done || left.count() <= 0) {
        co_return;
    }
    const std::shared_ptr<Wakeup> wakeup = Wakeup::create();
    flight->m_waiters.push_back(wakeup);
    // Lives in this frame, so it cannot outlast the wait.
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, [&wakeup] { wakeup->wake(); });
    timer.start(left);
    co_await wakeup->wait({});
}
