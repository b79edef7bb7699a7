// The monitor thread's event loop: timers, events posted from other threads, and the message-loop pass
// (`doEvents`) that long procedures give between their steps. Timers are scheduled on the Clock, so a
// virtual clock drives the whole program in tests without real waiting.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/clock.h"

namespace quorvanti::platform {

// A timer control as the window models hold it: interval and enabled state are plain fields that the
// procedures set; the loop reads them at every pass.
struct Timer {
    std::string name;
    std::chrono::milliseconds interval{0};
    bool enabled = false;
};

class EventLoop {
public:
    explicit EventLoop(Clock& clock);
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    // Runs `onTick` every `timer.interval` while `timer.enabled` is set. The timer must outlive the
    // loop. A handler is never re-entered: while it runs, its own timer does not fire again.
    void attach(Timer& timer, std::function<void()> onTick);

    // Queues `event` to run on the monitor thread at the next pass. Callable from any thread.
    void post(std::function<void()> event);

    // One pass: runs the posted events and every timer that is due, then returns.
    void doEvents();

    // Runs passes, waiting between them, until quit() is called; answers the quit status.
    int run();
    void quit(int status);
    bool quitting() const { return quitStatus_.has_value(); }

private:
    struct Attached {
        Timer* timer;
        std::function<void()> onTick;
        std::chrono::milliseconds lastStart{0};
        std::chrono::milliseconds lastInterval{0};
        bool wasEnabled = false;
        bool running = false;
    };
    std::optional<std::chrono::milliseconds> nextDue();
    void syncTimers(std::chrono::milliseconds now);

    Clock& clock_;
    std::vector<Attached> timers_;
    std::mutex postedMutex_;
    std::vector<std::function<void()>> posted_;
    std::optional<int> quitStatus_;
};

}  // namespace quorvanti::platform
