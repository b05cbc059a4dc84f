#include "corvane/CMyThreadBase.h"
#include "quorvel_test_support/WaitUntil.h"

#include <gtest/gtest.h>

#include <future>
#include <stdexcept>

using corvane::CMyThreadBase;
using quorvel::testsupport::WaitUntil;

namespace {

class Counting : public CMyThreadBase {
public:
    ~Counting() override
    {
        StopService();
        WaitForThread();
    }
    void RunCycle() override
    {
        ++cycles;
        if (gate)
            gate->wait();
        if (throwAt && cycles == throwAt)
            throw std::runtime_error("cycle failed");
        SleepFor(std::chrono::milliseconds(pause));
    }
    std::atomic<int> cycles{0};
    std::shared_future<void> const* gate = nullptr;
    int throwAt = 0;
    int pause = 1;
};

TEST(ThreadBase, StopDuringACycleLetsItFinishAndStartsNoOther)
{
    std::promise<void> open;
    std::shared_future<void> gate = open.get_future().share();
    Counting worker;
    worker.gate = &gate;
    ASSERT_EQ(worker.StartService(), 1);
    ASSERT_TRUE(WaitUntil([&] { return worker.cycles == 1; }));
    EXPECT_EQ(worker.StopService(), 1);
    open.set_value();
    worker.WaitForThread();
    EXPECT_EQ(worker.cycles, 1);
    EXPECT_EQ(worker.StopService(), 1);
}

TEST(ThreadBase, StartStopStartRunsCyclesAgain)
{
    Counting worker;
    ASSERT_EQ(worker.StartService(), 1);
    ASSERT_TRUE(WaitUntil([&] { return worker.cycles > 2; }));
    worker.StopService();
    worker.WaitForThread();
    const int before = worker.cycles;
    ASSERT_EQ(worker.StartService(), 1);
    EXPECT_TRUE(WaitUntil([&] { return worker.cycles > before + 2; }));
    // A second start while running starts nothing new.
    EXPECT_EQ(worker.StartService(), 1);
    EXPECT_TRUE(worker.IsRunning());
}

TEST(ThreadBase, ThrowingCycleEndsTheThreadQuietly)
{
    Counting worker;
    worker.throwAt = 2;
    ASSERT_EQ(worker.StartService(), 1);
    ASSERT_TRUE(WaitUntil([&] { return worker.cycles == 2; }));
    // Cycles' worth of time in which the ended thread must not run: the pause is the test.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(worker.cycles, 2);
    EXPECT_TRUE(worker.IsRunning());
    EXPECT_EQ(worker.StopService(), 1);
    EXPECT_FALSE(worker.IsRunning());
}

TEST(ThreadBase, StopCutsALongSleepShort)
{
    Counting worker;
    worker.pause = 60000;
    ASSERT_EQ(worker.StartService(), 1);
    ASSERT_TRUE(WaitUntil([&] { return worker.cycles == 1; }));
    auto stopped = std::async(std::launch::async, [&] {
        worker.StopService();
        worker.WaitForThread();
    });
    EXPECT_EQ(stopped.wait_for(std::chrono::seconds(10)), std::future_status::ready);
}

TEST(ThreadBase, WithoutCurrentWorkerStartAndStopFail)
{
    Counting first;
    {
        Counting second;
        EXPECT_EQ(CMyThreadBase::Current(), &second);
    }
    EXPECT_EQ(CMyThreadBase::Current(), nullptr);
    EXPECT_EQ(first.StartService(), 0);
    EXPECT_EQ(first.StopService(), 0);
    first.InitInstance();
    EXPECT_EQ(first.StartService(), 1);
}

} // namespace
