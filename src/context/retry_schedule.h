// When a queued sale that was kept may be tried again. A sale kept for any reason (no answer, a lost
// answer, a rejection the shop must correct, an error of the machine) waits 3 s, then twice as long
// after each further failure, at most 10 minutes; a success or a drop forgets it. It also remembers the
// last failure of each sale, so the operator is told of a failure once, not at every retry.
// Times are on the clock's steady line. Kept in memory: a restart tries every sale at once.
#pragma once

#include <chrono>
#include <map>
#include <string>

namespace quorvanti::context {

class RetrySchedule {
public:
    static constexpr std::chrono::milliseconds kFirstDelay{3000};
    static constexpr std::chrono::milliseconds kLongestDelay{600000};

    // True when `sale` is not waiting, or its wait has ended at `now`.
    bool isDue(const std::string& sale, std::chrono::milliseconds now) const;
    // Records that `sale` was kept because of `failure` at `now`, and schedules its next try.
    void postpone(const std::string& sale, const std::string& failure, std::chrono::milliseconds now);
    // The failure recorded for `sale` ("" when none): a message about the same failure was given.
    std::string lastFailure(const std::string& sale) const;
    // The sale ended (emitted or dropped): its next failure is new.
    void forget(const std::string& sale);
    // When `sale` is due next (for the journal and the panel); 0 when it is not waiting.
    std::chrono::milliseconds dueAt(const std::string& sale) const;

private:
    struct Entry {
        std::chrono::milliseconds dueAt{0};
        std::chrono::milliseconds delay{0};
        std::string failure;
    };
    std::map<std::string, Entry> entries_;
};

}  // namespace quorvanti::context
