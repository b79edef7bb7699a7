// The clock: the real instant for the date-times written into documents, a steady time line for timers,
// and a blocking sleep for the pauses the monitor takes between steps. Production uses SystemClock
// (optionally time-scaled, for end-to-end runs); tests use VirtualClock, whose sleeps advance its time at
// once, so no test waits for real.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace quorvanti::platform {

// A point in real time, to the second.
using Instant = std::chrono::sys_seconds;

// A calendar date and time of day, without a zone: what a clock set to some offset shows.
struct LocalDateTime {
    int year = 0, month = 0, day = 0;
    int hour = 0, minute = 0, second = 0;

    friend bool operator==(const LocalDateTime&, const LocalDateTime&) = default;
};

// Shifts a date-time by a number of seconds (either sign), normalising the calendar.
LocalDateTime addSeconds(const LocalDateTime& t, std::int64_t seconds);
// What a clock set to `offset` east of UTC shows at `instant`.
LocalDateTime dateTimeAt(Instant instant, std::chrono::seconds offset);
// The instant at which a clock set to `offset` shows `t`.
Instant instantOf(const LocalDateTime& t, std::chrono::seconds offset);
// True for a real calendar date (1..9999) and a time of day 00:00:00 to 23:59:59.
bool validDateTime(const LocalDateTime& t);

class Clock {
public:
    virtual ~Clock() = default;
    // The real instant, whatever the host's time zone. Documents express it in the shop's offset
    // (context::shopNow).
    virtual Instant utcNow() const = 0;
    // The host's local wall time (the process's TZ). Not the shop's time: servers run in UTC.
    LocalDateTime now() const;
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

// The machine's clock. With a time scale below 1 every sleep and wait, and so the steady time line,
// runs that much faster (0.01: a 3-second pause takes 30 ms), while utcNow stays the real instant: end-
// to-end runs of pauses, retries and timers take seconds and still date their documents truly.
class SystemClock final : public Clock {
public:
    explicit SystemClock(double timeScale = 1.0);

    Instant utcNow() const override;
    std::chrono::milliseconds steadyNow() const override;
    void sleep(std::chrono::milliseconds duration) override;
    void waitUntil(std::chrono::milliseconds deadline) override;
    void wake() override;

    double timeScale() const { return scale_; }

private:
    double scale_;
    std::chrono::steady_clock::time_point origin_;
    std::mutex mutex_;
    std::condition_variable wakeSignal_;
    bool woken_ = false;
};

// The environment variable that sets the time scale of the monitor's SystemClock.
inline constexpr const char* kTimeScaleVariable = "QUORVANTI_TIME_SCALE";
// A time scale as written: a number greater than 0 and at most 1 ("0.01"); blank = 1. Raises
// std::invalid_argument naming the variable and the value for anything else.
double parseTimeScale(std::string_view text);
// The time scale of $QUORVANTI_TIME_SCALE (1 when unset); raises as parseTimeScale.
double timeScaleFromEnvironment();

// A clock that only moves when slept on or advanced. Thread-safe.
class VirtualClock final : public Clock {
public:
    // 2026-03-05T18:07:09Z, which a shop at -04:00 sees as 14:07:09.
    static constexpr Instant kDefaultStart{std::chrono::seconds{1772734029}};

    explicit VirtualClock(Instant start = kDefaultStart);

    Instant utcNow() const override;
    std::chrono::milliseconds steadyNow() const override;
    void sleep(std::chrono::milliseconds duration) override;
    void waitUntil(std::chrono::milliseconds deadline) override;
    void wake() override {}

    // Moves the steady time line and the instant.
    void advance(std::chrono::milliseconds duration);
    // The instant becomes `instant`; the steady time line does not move.
    void set(Instant instant);
    // The same for the moment a clock set to `offset` shows `t`.
    void set(const LocalDateTime& t, std::chrono::seconds offset) { set(instantOf(t, offset)); }
    // From now on the instant is the machine's real one (moved by later advance() and set() only), while
    // sleeps and waits still take no time: for runs against an authority that checks the emission time
    // with its own real clock, as a time-scaled SystemClock would date them.
    void followRealTime();
    // Total of all sleeps taken, so tests can assert the pacing of a procedure.
    std::chrono::milliseconds slept() const;

private:
    mutable std::mutex mutex_;
    bool realTime_ = false;
    std::chrono::sys_time<std::chrono::milliseconds> base_;  // virtual: the instant is base_ + elapsed_
    std::chrono::milliseconds shift_{0};                     // real time: the instant is the real one + shift_
    std::chrono::milliseconds elapsed_{0};
    std::chrono::milliseconds slept_{0};
};

}  // namespace quorvanti::platform
