#include "desktop/watchdog.h"

#include "desktop/desktoplog.h"

#include <cstdlib>

Watchdog::Watchdog(int boundMs)
    : thread(&Watchdog::watch, this,
             std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs))
{
}

Watchdog::~Watchdog()
{
    stop();
}

void Watchdog::enter(const char *step)
{
    const std::lock_guard<std::mutex> lock(mutex);
    this->step = step;
}

void Watchdog::stop()
{
    {
        const std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    stopped.notify_one();
    if (thread.joinable())
        thread.join();
}

void Watchdog::watch(std::chrono::steady_clock::time_point deadline)
{
    std::unique_lock<std::mutex> lock(mutex);
    if (stopped.wait_until(lock, deadline, [this] { return stopping; }))
        return;
    qCDebug(lcApp) << "the start was stuck in" << step << "and ends now";
    // At once: no destructor runs that could wait on what is stuck, and nothing more is written.
    // The kernel releases the guard with the process.
    std::_Exit(EXIT_FAILURE);
}
