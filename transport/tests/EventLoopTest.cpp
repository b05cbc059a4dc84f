#include "corvane/CEventLoopThread.h"

#include <gtest/gtest.h>

#include <future>

using corvane::CEventLoop;
using corvane::CEventLoopThread;

namespace {

TEST(EventLoop, CallRunsOnTheLoopThreadAndReturnsTheResult)
{
    CEventLoopThread thread;
    CEventLoop* seen = nullptr;
    auto result = thread.Loop().Call([&] {
        seen = CEventLoop::Current();
        return thread.Loop().IsInLoopThread() ? 42 : 0;
    });
    EXPECT_EQ(result, 42);
    EXPECT_EQ(seen, &thread.Loop());
    EXPECT_EQ(CEventLoop::Current(), nullptr);
    // A call made on the loop thread itself runs at once.
    auto nested = thread.Loop().Call([&] { return thread.Loop().Call([] { return 7; }).value_or(0); });
    EXPECT_EQ(nested, 7);
}

TEST(EventLoop, CallGivesUpWhenTheCallerIsStopped)
{
    CEventLoopThread thread;
    std::promise<void> release;
    auto released = release.get_future().share();
    thread.Loop().Post([released] { released.wait(); });

    std::stop_source stop;
    auto waiter = std::async(std::launch::async, [&] { return thread.Loop().Call([] { return 1; }, stop.get_token()); });
    EXPECT_EQ(waiter.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    stop.request_stop();
    EXPECT_FALSE(waiter.get().has_value());
    release.set_value();
}

TEST(EventLoop, CallGivesUpWhenTheLoopStopsAndDiesWithTheCallUnrun)
{
    auto thread = std::make_unique<CEventLoopThread>();
    std::promise<void> release;
    auto released = release.get_future().share();
    thread->Loop().Post([released] { released.wait(); });
    CEventLoop* loop = &thread->Loop();
    auto waiter = std::async(std::launch::async, [loop] { return loop->Call([] { return true; }); });
    EXPECT_EQ(waiter.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    loop->Stop();
    release.set_value();
    thread.reset();
    EXPECT_FALSE(waiter.get());
}

TEST(EventLoop, ThrowingWorkCountsAsNoResult)
{
    CEventLoopThread thread;
    auto result = thread.Loop().Call([]() -> int { throw std::runtime_error("boom"); });
    EXPECT_FALSE(result.has_value());
}

} // namespace
