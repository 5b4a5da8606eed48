#include "support/Wakeup.h"

#include <QCoreApplication>
#include <QMetaObject>

void Wakeup::wake()
{
    m_woken = true;
    if (m_handle) {
        scheduleResume();
    }
}

Wakeup::Awaiter Wakeup::wait(std::stop_token stop)
{
    return Awaiter(shared_from_this(), std::move(stop));
}

void Wakeup::scheduleResume()
{
    if (m_resumeQueued) {
        return;
    }
    m_resumeQueued = true;
    // The shared pointer keeps this object alive until the queued call ran; a frame destroyed
    // in the meantime clears m_handle in its awaiter's destructor.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [self = shared_from_this()] {
            if (auto handle = std::exchange(self->m_handle, {})) {
                handle.resume();
            }
        },
        Qt::QueuedConnection);
}

Wakeup::Awaiter::~Awaiter()
{
    m_onStop.reset();
    if (m_wakeup) {
        m_wakeup->m_handle = {};
    }
}

void Wakeup::Awaiter::await_suspend(std::coroutine_handle<> handle)
{
    m_wakeup->m_handle = handle;
    if (m_wakeup->m_woken) {
        m_wakeup->scheduleResume();
    }
    // Runs OnStop at once when the token is already stopped; that only queues the resume.
    m_onStop.emplace(m_stop, OnStop{m_wakeup.get()});
}

void Wakeup::Awaiter::await_resume() noexcept
{
    m_onStop.reset();
}
