// The clocks, virtual and scaled, and the event loop that runs the timers on them.
#include "platform/clock.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

#include "platform/ui/event_loop.h"
#include "support/env_guard.h"
#include "support/error_text.h"
#include "support/host_zone.h"

namespace quorvanti::platform {
namespace {

using std::chrono::hours;
using std::chrono::milliseconds;
using std::chrono::seconds;

TEST(DateTimeTest, InstantsAndTheDateTimesOffsetsShow) {
    const Instant instant = instantOf({2026, 12, 7, 1, 23, 3}, seconds{0});
    EXPECT_EQ(dateTimeAt(instant, -hours(4)), (LocalDateTime{2026, 12, 6, 21, 23, 3}));
    EXPECT_EQ(dateTimeAt(instant, hours(9)), (LocalDateTime{2026, 12, 7, 10, 23, 3}));
    EXPECT_EQ(instantOf({2026, 12, 6, 21, 23, 3}, -hours(4)), instant);

    EXPECT_EQ(addSeconds({2026, 3, 5, 2, 30, 0}, -4 * 3600), (LocalDateTime{2026, 3, 4, 22, 30, 0}));
    EXPECT_EQ(addSeconds({2024, 12, 31, 23, 0, 0}, 3600), (LocalDateTime{2025, 1, 1, 0, 0, 0}));
    EXPECT_EQ(addSeconds({2024, 2, 28, 12, 0, 0}, 86400), (LocalDateTime{2024, 2, 29, 12, 0, 0}));

    EXPECT_TRUE(validDateTime({2024, 2, 29, 23, 59, 59}));
    for (const LocalDateTime& wrong : {LocalDateTime{2026, 2, 29, 0, 0, 0}, LocalDateTime{1900, 2, 29, 0, 0, 0},
                                       LocalDateTime{2026, 4, 31, 0, 0, 0}, LocalDateTime{2026, 13, 1, 0, 0, 0},
                                       LocalDateTime{2026, 1, 1, 24, 0, 0}, LocalDateTime{2026, 1, 1, 0, 60, 0}})
        EXPECT_FALSE(validDateTime(wrong)) << wrong.year << "-" << wrong.month << "-" << wrong.day;
}

TEST(VirtualClockTest, SleepsAdvanceTheInstantAndTheHostsLocalTimeFollowsItsZone) {
    VirtualClock clock(instantOf({2026, 2, 28, 23, 59, 58}, seconds{0}));
    clock.sleep(milliseconds(3000));
    EXPECT_EQ(dateTimeAt(clock.utcNow(), seconds{0}), (LocalDateTime{2026, 3, 1, 0, 0, 1}));
    EXPECT_EQ(clock.slept(), milliseconds(3000));
    EXPECT_EQ(clock.steadyNow(), milliseconds(3000));

    // now() is the host's wall time, as on a real machine: it moves with TZ, the instant does not.
    clock.set({2026, 12, 7, 1, 23, 3}, seconds{0});
    {
        testing::HostZone zone("UTC0");
        EXPECT_EQ(clock.now(), (LocalDateTime{2026, 12, 7, 1, 23, 3}));
    }
    {
        testing::HostZone zone("<-03>3");
        EXPECT_EQ(clock.now(), (LocalDateTime{2026, 12, 6, 22, 23, 3}));
        EXPECT_EQ(clock.utcNow(), instantOf({2026, 12, 7, 1, 23, 3}, seconds{0}));
    }
    EXPECT_EQ(clock.steadyNow(), milliseconds(3000));  // setting the instant leaves the timers alone
}

TEST(VirtualClockTest, FollowingRealTimeOnlyExplicitMovesShiftTheInstant) {
    VirtualClock clock;
    clock.followRealTime();
    const auto real = [] { return std::chrono::floor<seconds>(std::chrono::system_clock::now()); };
    EXPECT_LE(std::chrono::abs(clock.utcNow() - real()), seconds(2));
    clock.sleep(milliseconds(600'000));
    EXPECT_LE(std::chrono::abs(clock.utcNow() - real()), seconds(2));
    EXPECT_EQ(clock.steadyNow(), milliseconds(600'000));
    clock.advance(milliseconds(3'600'000));
    EXPECT_LE(std::chrono::abs(clock.utcNow() - real() - hours(1)), seconds(2));
}

TEST(SystemClockTest, AScaledClockRunsPausesAndTimersFasterButKeepsTheRealInstant) {
    SystemClock clock(0.001);
    const auto realStart = std::chrono::steady_clock::now();
    const auto steadyStart = clock.steadyNow();
    clock.sleep(milliseconds(3000));                               // 3 ms for real
    clock.waitUntil(clock.steadyNow() + milliseconds(2000));        // 2 ms for real
    const auto realElapsed = std::chrono::steady_clock::now() - realStart;
    EXPECT_GE(clock.steadyNow() - steadyStart, milliseconds(5000));
    EXPECT_LT(realElapsed, milliseconds(1000));
    EXPECT_LE(std::chrono::abs(clock.utcNow() - std::chrono::floor<seconds>(std::chrono::system_clock::now())),
              seconds(1));

    // The time scale is a positive factor up to one.
    for (const auto& [text, scale] : {std::pair{"", 1.0}, {"  ", 1.0}, {"1", 1.0}, {"0.01", 0.01}, {" 1e-3 ", 0.001}})
        EXPECT_EQ(parseTimeScale(text), scale) << text;
    for (const char* wrong : {"0", "-1", "2", "abc", "0,01", "nan", "inf", "0.01s"})
        EXPECT_THAT(testing::errorText<std::invalid_argument>([&] { parseTimeScale(wrong); }),
                    ::testing::HasSubstr("QUORVANTI_TIME_SCALE")) << wrong;
    testing::EnvGuard env;
    env.set(kTimeScaleVariable, std::nullopt);
    EXPECT_EQ(timeScaleFromEnvironment(), 1.0);
    env.set(kTimeScaleVariable, "0.5");
    EXPECT_EQ(timeScaleFromEnvironment(), 0.5);
}

TEST(EventLoopTest, TimerFiresAtItsIntervalOnlyWhileEnabled) {
    VirtualClock clock;
    EventLoop loop(clock);
    Timer timer{"Timer1", milliseconds(3000), true};
    int ticks = 0;
    loop.attach(timer, [&] {
        ++ticks;
        if (ticks == 3) loop.quit(7);
    });
    EXPECT_EQ(loop.run(), 7);
    EXPECT_EQ(ticks, 3);
    EXPECT_EQ(clock.steadyNow(), milliseconds(9000));

    // A disabled timer does not fire during a pass, however much time passes.
    timer.enabled = false;
    clock.advance(milliseconds(60000));
    loop.doEvents();
    EXPECT_EQ(ticks, 3);
}

TEST(EventLoopTest, EnablingOrChangingTheIntervalRestartsTheCountdown) {
    VirtualClock clock;
    EventLoop loop(clock);
    Timer timer{"Timer1", milliseconds(3000), false};
    int ticks = 0;
    loop.attach(timer, [&] { ++ticks; });
    loop.doEvents();
    clock.advance(milliseconds(5000));
    timer.enabled = true;  // counts from now, not from when it was attached
    loop.doEvents();
    EXPECT_EQ(ticks, 0);
    clock.advance(milliseconds(2999));
    loop.doEvents();
    EXPECT_EQ(ticks, 0);
    timer.interval = milliseconds(1000);
    loop.doEvents();
    clock.advance(milliseconds(1000));
    loop.doEvents();
    EXPECT_EQ(ticks, 1);
}

TEST(EventLoopTest, AHandlerIsNotReenteredByTheMessagePassesItGives) {
    VirtualClock clock;
    EventLoop loop(clock);
    Timer poll{"Timer1", milliseconds(1000), true};
    Timer animation{"Timer2", milliseconds(100), true};
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

TEST(EventLoopTest, EventsPostedFromAnotherThreadRunOnTheLoop) {
    SystemClock clock;
    EventLoop loop(clock);
    const auto loopThread = std::this_thread::get_id();
    std::thread::id ranOn;
    std::thread poster([&] { loop.post([&] {
        ranOn = std::this_thread::get_id();
        loop.quit(3);
    }); });
    EXPECT_EQ(loop.run(), 3);  // an idle loop wakes for the posted event instead of waiting its minute
    poster.join();
    EXPECT_EQ(ranOn, loopThread);
}

}  // namespace
}  // namespace quorvanti::platform
