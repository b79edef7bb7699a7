#include "context/retry_schedule.h"

#include <algorithm>

namespace quorvanti::context {

bool RetrySchedule::isDue(const std::string& sale, std::chrono::milliseconds now) const {
    const auto found = entries_.find(sale);
    return found == entries_.end() || found->second.dueAt <= now;
}

void RetrySchedule::postpone(const std::string& sale, const std::string& failure, std::chrono::milliseconds now) {
    auto& entry = entries_[sale];
    entry.delay = entry.delay.count() == 0 ? kFirstDelay : std::min(entry.delay * 2, kLongestDelay);
    entry.dueAt = now + entry.delay;
    entry.failure = failure;
}

std::string RetrySchedule::lastFailure(const std::string& sale) const {
    const auto found = entries_.find(sale);
    return found == entries_.end() ? std::string() : found->second.failure;
}

void RetrySchedule::forget(const std::string& sale) { entries_.erase(sale); }

std::chrono::milliseconds RetrySchedule::dueAt(const std::string& sale) const {
    const auto found = entries_.find(sale);
    return found == entries_.end() ? std::chrono::milliseconds(0) : found->second.dueAt;
}

}  // namespace quorvanti::context
