#include "platform/clock.h"

#include <ctime>
#include <thread>

namespace quorvanti::platform {

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's algorithm), so local
// date-times can be shifted without going through the C library's time zone.
std::int64_t daysFromCivil(int y, int m, int d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * static_cast<unsigned>(m + (m > 2 ? -3 : 9)) + 2) / 5 + static_cast<unsigned>(d) - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void civilFromDays(std::int64_t z, int& y, int& m, int& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2));
}

}  // namespace

LocalDateTime addSeconds(const LocalDateTime& t, std::int64_t seconds) {
    std::int64_t total = daysFromCivil(t.year, t.month, t.day) * 86400 + t.hour * 3600 + t.minute * 60 + t.second +
                         seconds;
    std::int64_t days = total / 86400;
    std::int64_t rest = total % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    LocalDateTime out;
    civilFromDays(days, out.year, out.month, out.day);
    out.hour = static_cast<int>(rest / 3600);
    out.minute = static_cast<int>(rest % 3600 / 60);
    out.second = static_cast<int>(rest % 60);
    return out;
}

LocalDateTime SystemClock::now() const {
    std::time_t seconds = std::time(nullptr);
    std::tm local{};
    localtime_r(&seconds, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec};
}

std::chrono::milliseconds SystemClock::steadyNow() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
}

void SystemClock::sleep(std::chrono::milliseconds duration) { std::this_thread::sleep_for(duration); }

void SystemClock::waitUntil(std::chrono::milliseconds deadline) {
    std::unique_lock lock(mutex_);
    const auto target = std::chrono::steady_clock::time_point(deadline);
    wakeSignal_.wait_until(lock, target, [this] { return woken_; });
    woken_ = false;
}

void SystemClock::wake() {
    {
        std::lock_guard lock(mutex_);
        woken_ = true;
    }
    wakeSignal_.notify_all();
}

VirtualClock::VirtualClock(LocalDateTime start) : start_(start) {}

LocalDateTime VirtualClock::now() const {
    std::lock_guard lock(mutex_);
    return addSeconds(start_, std::chrono::duration_cast<std::chrono::seconds>(elapsed_).count());
}

std::chrono::milliseconds VirtualClock::steadyNow() const {
    std::lock_guard lock(mutex_);
    return elapsed_;
}

void VirtualClock::sleep(std::chrono::milliseconds duration) {
    std::lock_guard lock(mutex_);
    elapsed_ += duration;
    slept_ += duration;
}

void VirtualClock::waitUntil(std::chrono::milliseconds deadline) {
    std::lock_guard lock(mutex_);
    if (deadline > elapsed_) elapsed_ = deadline;
}

void VirtualClock::advance(std::chrono::milliseconds duration) {
    std::lock_guard lock(mutex_);
    elapsed_ += duration;
}

void VirtualClock::set(const LocalDateTime& t) {
    std::lock_guard lock(mutex_);
    start_ = addSeconds(t, -std::chrono::duration_cast<std::chrono::seconds>(elapsed_).count());
}

std::chrono::milliseconds VirtualClock::slept() const {
    std::lock_guard lock(mutex_);
    return slept_;
}

}  // namespace quorvanti::platform
