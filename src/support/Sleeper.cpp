#include "support/Sleeper.h"

#include "support/Wakeup.h"

#include <QTimer>

#include <limits>

QCoro::Task<> TimerSleeper::sleep(std::chrono::milliseconds duration, std::stop_token stop)
{
    if (duration.count() <= 0 || stop.stop_requested()) {
        co_return;
    }
    const auto maxInterval = std::chrono::milliseconds(std::numeric_limits<int>::max());
    auto wakeup = Wakeup::create();
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &timer, [wakeup] { wakeup->wake(); });
    timer.start(std::min(duration, maxInterval));
    co_await wakeup->wait(std::move(stop));
}

std::shared_ptr<Sleeper> systemSleeper()
{
    static const auto sleeper = std::make_shared<TimerSleeper>();
    return sleeper;
}
