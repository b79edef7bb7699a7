#include "platform/ui/event_loop.h"

#include <utility>

namespace quorvanti::platform {

namespace {
// How long an idle loop with no enabled timer waits before looking again (posted events wake it early).
constexpr std::chrono::milliseconds kIdleWait{60'000};
}  // namespace

EventLoop::EventLoop(Clock& clock) : clock_(clock) {}

void EventLoop::attach(Timer& timer, std::function<void()> onTick) {
    timers_.push_back(Attached{&timer, std::move(onTick)});
}

void EventLoop::post(std::function<void()> event) {
    {
        std::lock_guard lock(postedMutex_);
        posted_.push_back(std::move(event));
    }
    clock_.wake();
}

// A timer counts its interval from the moment it was enabled or its interval changed, as a window
// timer does when the program sets Enabled or Interval.
void EventLoop::syncTimers(std::chrono::milliseconds now) {
    for (auto& t : timers_) {
        const bool enabled = t.timer->enabled && t.timer->interval.count() > 0;
        if (enabled && (!t.wasEnabled || t.timer->interval != t.lastInterval)) t.lastStart = now;
        t.wasEnabled = enabled;
        t.lastInterval = t.timer->interval;
    }
}

std::optional<std::chrono::milliseconds> EventLoop::nextDue() {
    syncTimers(clock_.steadyNow());
    std::optional<std::chrono::milliseconds> due;
    for (const auto& t : timers_) {
        if (!t.wasEnabled || t.running) continue;
        const auto at = t.lastStart + t.timer->interval;
        if (!due || at < *due) due = at;
    }
    return due;
}

void EventLoop::doEvents() {
    std::vector<std::function<void()>> events;
    {
        std::lock_guard lock(postedMutex_);
        events.swap(posted_);
    }
    for (auto& event : events) event();

    syncTimers(clock_.steadyNow());
    // Index-based: a handler may attach nothing, but it may run doEvents again (nested passes).
    for (std::size_t i = 0; i < timers_.size(); ++i) {
        if (quitStatus_) return;
        auto& t = timers_[i];
        if (!t.wasEnabled || t.running) continue;
        const auto now = clock_.steadyNow();
        if (now < t.lastStart + t.timer->interval) continue;
        t.running = true;
        try {
            t.onTick();
        } catch (...) {
            timers_[i].running = false;
            throw;
        }
        auto& after = timers_[i];
        after.running = false;
        after.lastStart = clock_.steadyNow();
        after.lastInterval = after.timer->interval;
        after.wasEnabled = after.timer->enabled && after.timer->interval.count() > 0;
    }
}

int EventLoop::run() {
    while (!quitStatus_) {
        doEvents();
        if (quitStatus_) break;
        bool pending;
        {
            std::lock_guard lock(postedMutex_);
            pending = !posted_.empty();
        }
        if (pending) continue;
        const auto due = nextDue();
        clock_.waitUntil(due ? *due : clock_.steadyNow() + kIdleWait);
    }
    return *quitStatus_;
}

void EventLoop::quit(int status) {
    if (!quitStatus_) quitStatus_ = status;
    clock_.wake();
}

}  // namespace quorvanti::platform
