#include "quorvel_directory/CCoalescedSave.h"

#include "corvane/CEventLoopThread.h"
#include "quorvel_test_support/WaitUntil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

using corvane::CEventLoopThread;
using quorvel::directory::CCoalescedSave;
using quorvel::testsupport::WaitUntil;

using namespace std::chrono_literals;

namespace {

// A coalesced save with a long interval on a loop thread of its own.
class CCoalescedSaveTest : public ::testing::Test {
protected:
    CCoalescedSaveTest()
    {
        thread_.Loop().Call([this] { saves_ = std::make_unique<CCoalescedSave>([this] { ++count_; }, 60s); });
    }
    ~CCoalescedSaveTest() override
    {
        thread_.Loop().Call([this] { saves_.reset(); });
    }
    void Request(int times)
    {
        thread_.Loop().Call([this, times] {
            for (int i = 0; i < times; ++i)
                saves_->Request();
        });
    }

    CEventLoopThread thread_;
    std::unique_ptr<CCoalescedSave> saves_;
    std::atomic<int> count_{0};
};

TEST_F(CCoalescedSaveTest, AFloodSavesOnceAtOnceAndOnceMoreOnFlush)
{
    Request(1000);
    EXPECT_EQ(count_, 1);
    thread_.Loop().Call([this] { saves_->Flush(); });
    EXPECT_EQ(count_, 2);
    // Nothing pending: a flush saves nothing.
    thread_.Loop().Call([this] { saves_->Flush(); });
    EXPECT_EQ(count_, 2);
}

TEST_F(CCoalescedSaveTest, APendingSaveRunsAtTheEndOfTheInterval)
{
    thread_.Loop().Call([this] { saves_ = std::make_unique<CCoalescedSave>([this] { ++count_; }, 50ms); });
    Request(1);
    Request(5);
    EXPECT_EQ(count_, 1);
    EXPECT_TRUE(WaitUntil([this] { return count_ == 2; }));
}

TEST_F(CCoalescedSaveTest, DestroyingDropsAPendingSave)
{
    thread_.Loop().Call([this] { saves_ = std::make_unique<CCoalescedSave>([this] { ++count_; }, 20ms); });
    Request(2);
    thread_.Loop().Call([this] { saves_.reset(); });
    // Five intervals in which a dropped save must not run: the pause is the test.
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(count_, 1);
}

} // namespace
