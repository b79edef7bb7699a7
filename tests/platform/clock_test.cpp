// Dates and instants, the time scale, and the event loop that runs the timers on the clock.
// (The virtual clock is the tests' own stand-in: a fault in it shows in every suite that runs on it.)
#include "platform/clock.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/ui/event_loop.h"
#include "support/error_text.h"

namespace quorvanti::platform {
namespace {

using std::chrono::milliseconds;
using Date = LocalDateTime;

// (An instant shown at the shop's offset is every emission's dhEmi, which the local SEFAZ checks.)
TEST(DateTimeTest, AddingSecondsAndCheckingADateKeepTheCalendar) {
    EXPECT_EQ(addSeconds({2026, 3, 5, 2, 30, 0}, -4 * 3600), (Date{2026, 3, 4, 22, 30, 0}));
    EXPECT_EQ(addSeconds({2024, 12, 31, 23, 0, 0}, 3600), (Date{2025, 1, 1, 0, 0, 0}));
    EXPECT_EQ(addSeconds({2024, 2, 28, 12, 0, 0}, 86400), (Date{2024, 2, 29, 12, 0, 0}));

    EXPECT_TRUE(validDateTime({2024, 2, 29, 23, 59, 59}));
    for (const Date& wrong : {Date{2026, 2, 29, 0, 0, 0}, Date{1900, 2, 29, 0, 0, 0}, Date{2026, 4, 31, 0, 0, 0},
                              Date{2026, 13, 1, 0, 0, 0}, Date{2026, 1, 1, 24, 0, 0}, Date{2026, 1, 1, 0, 60, 0}})
        EXPECT_FALSE(validDateTime(wrong)) << wrong.year << "-" << wrong.month << "-" << wrong.day;
}

// (A scaled clock's pauses, on the real instant, are what every run in tests/startup goes by, at 0.02:
// crash_recovery_test would take minutes, and the local SEFAZ refuse a scaled dhEmi.)
TEST(SystemClockTest, TheTimeScaleIsAPositiveFactorUpToOne) {
    for (const auto& [text, scale] : {std::pair{"", 1.0}, {"  ", 1.0}, {"1", 1.0}, {"0.01", 0.01}, {" 1e-3 ", 0.001}})
        EXPECT_EQ(parseTimeScale(text), scale) << text;
    for (const char* wrong : {"0", "-1", "2", "abc", "0,01", "nan", "inf", "0.01s"})
        EXPECT_THAT(testing::errorText<std::invalid_argument>([&] { parseTimeScale(wrong); }),
                    ::testing::HasSubstr("QUORVANTI_TIME_SCALE")) << wrong;
}

// (Timers firing and a loop quitting with its status are every monitor run's.) Disabled, a timer does not
// fire, however much time passes; enabled, it counts from then, and a new interval counts from its change.
TEST(EventLoopTest, ATimerFiresOnlyWhileEnabledCountingFromItsEnablingOrNewInterval) {
    VirtualClock clock;
    EventLoop loop(clock);
    Timer timer{"Timer1", milliseconds(3000), false};
    int ticks = 0;
    loop.attach(timer, [&] { ++ticks; });
    const auto pass = [&](int ms) {
        clock.advance(milliseconds(ms));
        loop.doEvents();
        return ticks;
    };
    EXPECT_EQ(pass(60000), 0);
    timer.enabled = true;
    EXPECT_EQ(pass(0), 0);
    EXPECT_EQ(pass(2999), 0);
    timer.interval = milliseconds(1000);
    EXPECT_EQ(pass(0), 0);
    EXPECT_EQ(pass(1000), 1);
}

TEST(EventLoopTest, AHandlerIsNotReenteredByTheMessagePassesItGives) {
    VirtualClock clock;
    EventLoop loop(clock);
    Timer poll{"Timer1", milliseconds(1000), true}, animation{"Timer2", milliseconds(100), true};
    int depth = 0, maxDepth = 0, pollTicks = 0, animationTicks = 0;
    loop.attach(poll, [&] {
        ++pollTicks;
        maxDepth = std::max(maxDepth, ++depth);
        for (int i = 0; i < 5; ++i) {
            clock.sleep(milliseconds(1000));
            loop.doEvents();  // other timers run here; this one must not start again
        }
        --depth;
        loop.quit(0);
    });
    loop.attach(animation, [&] { ++animationTicks; });
    loop.run();
    EXPECT_EQ(pollTicks, 1);
    EXPECT_EQ(maxDepth, 1);
    EXPECT_GE(animationTicks, 5);
}

}  // namespace
}  // namespace quorvanti::platform
