#include "platform/ui/event_loop.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/clock.h"

namespace quorvanti::platform {
namespace {

using std::chrono::milliseconds;

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
