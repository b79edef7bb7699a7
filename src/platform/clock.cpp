#include "platform/clock.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <stdexcept>
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

LocalDateTime dateTimeAt(Instant instant, std::chrono::seconds offset) {
    return addSeconds(LocalDateTime{1970, 1, 1, 0, 0, 0}, (instant.time_since_epoch() + offset).count());
}

Instant instantOf(const LocalDateTime& t, std::chrono::seconds offset) {
    const std::int64_t local =
        daysFromCivil(t.year, t.month, t.day) * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
    return Instant{std::chrono::seconds{local} - offset};
}

bool validDateTime(const LocalDateTime& t) {
    if (t.year < 1 || t.year > 9999 || t.month < 1 || t.month > 12 || t.day < 1) return false;
    if (t.hour < 0 || t.hour > 23 || t.minute < 0 || t.minute > 59 || t.second < 0 || t.second > 59) return false;
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (t.year % 4 == 0 && t.year % 100 != 0) || t.year % 400 == 0;
    return t.day <= kDays[t.month - 1] + (t.month == 2 && leap ? 1 : 0);
}

LocalDateTime Clock::now() const {
    const std::time_t seconds = utcNow().time_since_epoch().count();
    std::tm local{};
    localtime_r(&seconds, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec};
}

// ---- SystemClock ----

SystemClock::SystemClock(double timeScale) : scale_(timeScale), origin_(std::chrono::steady_clock::now()) {
    if (!(scale_ > 0 && scale_ <= 1)) throw std::invalid_argument("escala de tempo fora de (0, 1]");
}

Instant SystemClock::utcNow() const {
    return std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
}

std::chrono::milliseconds SystemClock::steadyNow() const {
    const std::chrono::duration<double, std::milli> real = std::chrono::steady_clock::now() - origin_;
    return std::chrono::duration_cast<std::chrono::milliseconds>(real / scale_);
}

void SystemClock::sleep(std::chrono::milliseconds duration) {
    std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(duration) * scale_);
}

void SystemClock::waitUntil(std::chrono::milliseconds deadline) {
    const auto target = origin_ + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                      std::chrono::duration<double, std::milli>(deadline) * scale_);
    std::unique_lock lock(mutex_);
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

double parseTimeScale(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    if (text.empty()) return 1.0;
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value) || value <= 0 || value > 1)
        throw std::invalid_argument(std::string(kTimeScaleVariable) + " inválida: \"" + std::string(text) +
                                    "\" (espera-se um número maior que 0 e no máximo 1, com ponto decimal, como 0.01)");
    return value;
}

double timeScaleFromEnvironment() {
    const char* value = std::getenv(kTimeScaleVariable);
    return parseTimeScale(value == nullptr ? "" : value);
}

// ---- VirtualClock ----

VirtualClock::VirtualClock(Instant start) : base_(start) {}

Instant VirtualClock::utcNow() const {
    std::lock_guard lock(mutex_);
    if (realTime_) return std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now() + shift_);
    return std::chrono::floor<std::chrono::seconds>(base_ + elapsed_);
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
    if (realTime_) shift_ += duration;
}

void VirtualClock::set(Instant instant) {
    std::lock_guard lock(mutex_);
    if (realTime_) {
        shift_ = std::chrono::duration_cast<std::chrono::milliseconds>(instant - std::chrono::system_clock::now());
    } else {
        base_ = instant - elapsed_;
    }
}

void VirtualClock::followRealTime() {
    std::lock_guard lock(mutex_);
    realTime_ = true;
    shift_ = std::chrono::milliseconds{0};
}

std::chrono::milliseconds VirtualClock::slept() const {
    std::lock_guard lock(mutex_);
    return slept_;
}

}  // namespace quorvanti::platform
