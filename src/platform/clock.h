// The clock: wall-clock time for dates written into documents and a blocking sleep for the pauses the
// monitor takes between steps. Production uses SystemClock; tests use VirtualClock, whose sleeps
// advance its time at once, so no test waits for real.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

namespace quorvanti::platform {

// A local calendar date and time of day, as the shop's regional clock shows it.
struct LocalDateTime {
    int year = 0, month = 0, day = 0;
    int hour = 0, minute = 0, second = 0;

    friend bool operator==(const LocalDateTime&, const LocalDateTime&) = default;
};

// Shifts a local date-time by a number of seconds (either sign), normalising the calendar.
LocalDateTime addSeconds(const LocalDateTime& t, std::int64_t seconds);

class Clock {
public:
    virtual ~Clock() = default;
    // The current local date and time.
    virtual LocalDateTime now() const = 0;
    // Milliseconds on a steady time line; only differences are meaningful. Timers are scheduled on it.
    virtual std::chrono::milliseconds steadyNow() const = 0;
    // Blocks the calling thread for the given time (a virtual clock advances instead).
    virtual void sleep(std::chrono::milliseconds duration) = 0;
    // Blocks until the steady time reaches `deadline` or `wake` is signalled, whichever is first. Used by
    // the event loop while idle. Returns at once on a virtual clock after advancing to `deadline`.
    virtual void waitUntil(std::chrono::milliseconds deadline) = 0;
    // Ends a waitUntil early (callable from any thread).
    virtual void wake() = 0;
};

// The machine's clock in the process's local time zone.
class SystemClock final : public Clock {
public:
    LocalDateTime now() const override;
    std::chrono::milliseconds steadyNow() const override;
    void sleep(std::chrono::milliseconds duration) override;
    void waitUntil(std::chrono::milliseconds deadline) override;
    void wake() override;

private:
    std::mutex mutex_;
    std::condition_variable wakeSignal_;
    bool woken_ = false;
};

// A clock that only moves when slept on or advanced. Thread-safe.
class VirtualClock final : public Clock {
public:
    explicit VirtualClock(LocalDateTime start = {2026, 3, 5, 14, 7, 9});

    LocalDateTime now() const override;
    std::chrono::milliseconds steadyNow() const override;
    void sleep(std::chrono::milliseconds duration) override;
    void waitUntil(std::chrono::milliseconds deadline) override;
    void wake() override {}

    void advance(std::chrono::milliseconds duration);
    void set(const LocalDateTime& t);
    // Total of all sleeps taken, so tests can assert the pacing of a procedure.
    std::chrono::milliseconds slept() const;

private:
    mutable std::mutex mutex_;
    LocalDateTime start_;
    std::chrono::milliseconds elapsed_{0};
    std::chrono::milliseconds slept_{0};
};

}  // namespace quorvanti::platform
