#pragma once

#include <coroutine>
#include <memory>
#include <optional>
#include <stop_token>

// A suspension point that ends when wake() is called or when a stop token is stopped.
//
// The coroutine is always resumed from the event loop, never inside the caller of wake() or
// request_stop(): a caller that cancels a task must not find that task's code running inside
// its own stack. Main thread only.
class Wakeup : public std::enable_shared_from_this<Wakeup> {
public:
    class Awaiter;

    static std::shared_ptr<Wakeup> create() { return std::shared_ptr<Wakeup>(new Wakeup); }

    void wake();
    bool isWoken() const { return m_woken; }

    Awaiter wait(std::stop_token stop);

private:
    Wakeup() = default;
    void scheduleResume();

    std::coroutine_handle<> m_handle;
    bool m_woken = false;
    bool m_resumeQueued = false;
};

class Wakeup::Awaiter {
public:
    Awaiter(std::shared_ptr<Wakeup> wakeup, std::stop_token stop)
        : m_wakeup(std::move(wakeup))
        , m_stop(std::move(stop))
    {
    }
    // Moved only before it suspends, while no stop callback is registered yet.
    Awaiter(Awaiter&& other) noexcept
        : m_wakeup(std::move(other.m_wakeup))
        , m_stop(std::move(other.m_stop))
    {
    }
    Awaiter& operator=(Awaiter&&) = delete;
    ~Awaiter();

    bool await_ready() const noexcept { return m_wakeup->m_woken || m_stop.stop_requested(); }
    void await_suspend(std::coroutine_handle<> handle);
    void await_resume() noexcept;

private:
    struct OnStop {
        Wakeup* wakeup;
        void operator()() const noexcept { wakeup->wake(); }
    };

    std::shared_ptr<Wakeup> m_wakeup;
    std::stop_token m_stop;
    std::optional<std::stop_callback<OnStop>> m_onStop;
};
