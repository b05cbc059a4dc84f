#include "CTickTimer.h"
#include "corvane/CEventLoopThread.h"
#include "quorvel_test_support/WaitUntil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

using corvane::CEventLoopThread;
using quorvel::shell::CTickTimer;
using quorvel::testsupport::WaitUntil;

namespace {

using namespace std::chrono_literals;

// Waits (bounded) until `ticks` reaches `count`.
bool WaitForTicks(const std::atomic<int>& ticks, int count)
{
    return WaitUntil([&] { return ticks.load() >= count; });
}

TEST(CTickTimer, TicksOnItsLoopUntilStopped)
{
    CEventLoopThread loop;
    std::atomic<int> ticks{0};
    std::atomic<bool> onLoop{true};
    std::unique_ptr<CTickTimer> timer;
    ASSERT_TRUE(loop.Loop().Call([&] {
        timer = std::make_unique<CTickTimer>(loop.Loop(), [&] {
            onLoop = onLoop && loop.Loop().IsInLoopThread();
            ++ticks;
        });
        timer->Start(5ms);
    }));
    ASSERT_TRUE(WaitForTicks(ticks, 3));
    EXPECT_TRUE(onLoop);

    int stoppedAt = 0;
    ASSERT_TRUE(loop.Loop().Call([&] {
        timer->Stop();
        stoppedAt = ticks.load();
    }));
    // Ten periods in which a stopped timer must not tick: the pause is the test.
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(ticks.load(), stoppedAt);
    ASSERT_TRUE(loop.Loop().Call([&] { timer.reset(); }));
}

TEST(CTickTimer, AHandlerMayStopItsOwnTimer)
{
    CEventLoopThread loop;
    std::atomic<int> ticks{0};
    std::unique_ptr<CTickTimer> timer;
    ASSERT_TRUE(loop.Loop().Call([&] {
        timer = std::make_unique<CTickTimer>(loop.Loop(), [&] {
            if (++ticks == 2)
                timer->Stop();
        });
        timer->Start(5ms);
    }));
    ASSERT_TRUE(WaitForTicks(ticks, 2));
    // Ten periods in which a stopped timer must not tick: the pause is the test.
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(ticks.load(), 2);
    bool running = true;
    ASSERT_TRUE(loop.Loop().Call([&] {
        running = timer->Running();
        timer.reset();
    }));
    EXPECT_FALSE(running);
}

} // namespace
