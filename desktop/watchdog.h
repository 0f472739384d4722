#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

// Ends a start that is stuck, so that it never holds the guard and shuts out every later start.
// It watches from a thread of its own: the waits it guards may block the main thread itself, as
// a call on a frozen session bus does, where no timer of that thread would fire.
class Watchdog
{
public:
    // Every wait a start makes: the 2 s start-up wait, the busy check's 0.2 s, the message
    // request's 15 s, the web page's 30 s (25 s for the helper's start and the page, 5 s for its
    // end) and the coupon request's 15 s, 62.2 s in all; and 5 s for the work between them.
    static constexpr int StartBoundMs = 2000 + 200 + 15000 + 30000 + 15000 + 5000;

    explicit Watchdog(int boundMs = StartBoundMs);
    ~Watchdog();
    Watchdog(const Watchdog &) = delete;
    Watchdog &operator=(const Watchdog &) = delete;

    // Names the step the start is in now, for the diagnostics line when it is stuck there.
    void enter(const char *step);
    // A popup is on screen, and the user may keep it for hours.
    void stop();

private:
    void watch(std::chrono::steady_clock::time_point deadline);

    std::mutex mutex;
    std::condition_variable stopped;
    bool stopping = false;
    const char *step = "start-up";
    std::thread thread;
};
