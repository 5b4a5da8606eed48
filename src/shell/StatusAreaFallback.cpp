#include "shell/StatusAreaFallback.h"

#include "shell/AdaptiveStatusItem.h"
#include "shell/PopoverWindow.h"
#include "shell/StatusAreaFallbackWindow.h"
#include "shell/StatusAreaNotice.h"

StatusAreaFallback::StatusAreaFallback(AdaptiveStatusItem& item, std::function<QWidget*()> makeContent,
                                       const QDBusConnection& bus, std::shared_ptr<Sleeper> sleeper,
                                       StatusAreaFallbackTimings timings, QObject* parent)
    : QObject(parent)
    , m_item(item)
    , m_makeContent(std::move(makeContent))
    , m_bus(bus)
    , m_sleeper(std::move(sleeper))
    , m_timings(timings)
{
    connect(&m_item, &AdaptiveStatusItem::hostedChanged, this, &StatusAreaFallback::hostedChanged);
    if (!m_item.isHosted()) {
        checkAfter(m_timings.noHostDelay);
    }
}

StatusAreaFallback::~StatusAreaFallback()
{
    m_pendingCheck.request_stop();
    delete m_window;
}

StatusAreaFallbackWindow* StatusAreaFallback::window() const
{
    return m_window;
}

void StatusAreaFallback::hostedChanged(bool hosted)
{
    if (!hosted) {
        checkAfter(m_timings.hostReturnGrace);
        return;
    }
    m_pendingCheck.request_stop();
    if (m_notice) {
        m_notice->withdraw();
    }
    closeWindow();
}

void StatusAreaFallback::checkAfter(std::chrono::milliseconds delay)
{
    m_pendingCheck.request_stop();
    m_pendingCheck = std::stop_source();
    waitThenCheck(delay, m_pendingCheck.get_token());
}

QCoro::Task<> StatusAreaFallback::waitThenCheck(std::chrono::milliseconds delay, std::stop_token stop)
{
    const auto sleeper = m_sleeper;
    co_await sleeper->sleep(delay, stop);
    // Stopped when a host appeared, when another wait replaced this one, or when we are gone.
    if (stop.stop_requested()) {
        co_return;
    }
    check();
}

void StatusAreaFallback::check()
{
    if (m_item.isHosted()) {
        return;
    }
    // Once per session: a host that comes and goes later is no news worth repeating.
    if (!m_notice) {
        m_notice = std::make_unique<StatusAreaNotice>(m_bus, m_timings.noticeTimeout);
        m_notice->show();
    }
    openWindow();
}

void StatusAreaFallback::openWindow()
{
    if (!m_window) {
        m_window = new StatusAreaFallbackWindow(m_makeContent ? m_makeContent() : nullptr, PopoverWindow::kSize);
        connect(m_window, &StatusAreaFallbackWindow::closeRequested, this, &StatusAreaFallback::windowCloseRequested);
    }
    m_window->present();
}

void StatusAreaFallback::closeWindow()
{
    if (!m_window) {
        return;
    }
    m_window->hide();
    // Not deleted at once: this may run inside one of the window's own event handlers.
    m_window->deleteLater();
    m_window = nullptr;
}

void StatusAreaFallback::windowCloseRequested()
{
    closeWindow();
    if (!m_item.isHosted()) {
        Q_EMIT quitRequested();
    }
}
