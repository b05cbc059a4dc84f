#include "TestSupport.h"

#include <gtest/gtest.h>

#include <thread>

using corvane::CEventLoopThread;
using quorvel::testsupport::ListenOnFreePort;
using quorvel::testsupport::WaitUntil;

namespace {

const char* const kDisconnected = "INFOR CMyRASSocket 网络连接已断开，停止发送数据...";

// A listening server in queued-sending mode.
class QueueServer : public TestServer {
public:
    QueueServer() { useSendQueue = 1; }
};

class SendQueue : public ::testing::Test {
protected:
    SendQueue()
    {
        loop.Loop().Call([this] {
            server = std::make_unique<QueueServer>();
            server->SetLogEvent(&Recorder::Log);
            port = ListenOnFreePort(*server);
        });
        Recorder::Clear();
    }
    ~SendQueue() override { Destroy(); }
    void Destroy()
    {
        loop.Loop().Call([this] { server.reset(); });
    }
    template <class F>
    auto OnLoop(F fn)
    {
        return RunOn(loop.Loop(), std::move(fn));
    }

    CEventLoopThread loop;
    std::unique_ptr<QueueServer> server;
    unsigned port = 0;
};

TEST_F(SendQueue, WithoutQueueModeStartSendThreadStartsNothing)
{
    ServerFixture plain;
    RawConnection client(plain.port);
    ASSERT_TRUE(WaitUntil([&] { return plain.OnLoop([&] { return plain.server->Count(); }) == 1; }));
    plain.OnLoop([&] { plain.server->StartSendThread(); });
    client.Close();
    ASSERT_TRUE(WaitUntil([] { return Recorder::HasLine("INFOR [][]断开了连接"); }));
    // Immediate mode: the refusal is the direct result.
    EXPECT_EQ(plain.OnLoop([&] { return plain.server->SendBuff(plain.server->At(0), "x", 1); }), 0);
}

TEST_F(SendQueue, QueuedFramesArriveInOrder)
{
    RawConnection client(port);
    ASSERT_TRUE(WaitUntil([&] { return OnLoop([&] { return server->Count(); }) == 1; }));
    OnLoop([&] {
        EXPECT_EQ(server->SendBuff(server->At(0), "one", 3), 1);
        EXPECT_EQ(server->SendBuff(server->At(0), "two", 3), 1);
        server->StartSendThread();
    });
    EXPECT_EQ(client.Read(54), Frame("one") + Frame("two"));
}

TEST_F(SendQueue, ClosedConnectionIsAcceptedThenRetriedEveryPassUntilStopped)
{
    RawConnection client(port);
    ASSERT_TRUE(WaitUntil([&] { return OnLoop([&] { return server->Count(); }) == 1; }));
    client.Close();
    ASSERT_TRUE(WaitUntil([] { return Recorder::HasLine("INFOR [][]断开了连接"); }));
    OnLoop([&] {
        EXPECT_EQ(server->SendBuff(server->At(0), "late", 4), 1);
        server->StartSendThread();
    });
    ASSERT_TRUE(WaitUntil([] { return Recorder::CountLines(kDisconnected) >= 3; }));

    // Destroying the endpoint stops its thread and drops the entries of its
    // destroyed connections: no further tries.
    Destroy();
    const int tries = Recorder::CountLines(kDisconnected);
    // Four send passes in which no try may follow: the pause is the test.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(Recorder::CountLines(kDisconnected), tries);
}

TEST_F(SendQueue, ReceiptsReportTheSendThreadsWritesAndTheDroppedEntries)
{
    RawConnection first(port);
    ASSERT_TRUE(WaitUntil([&] { return OnLoop([&] { return server->Count(); }) == 1; }));
    std::vector<std::pair<int, bool>> reports;  // loop thread only
    auto receipt = [&reports](int frame) { return [&reports, frame](bool written) { reports.emplace_back(frame, written); }; };
    OnLoop([&] {
        EXPECT_EQ(server->SendBuff(server->At(0), "sent", 4, receipt(1)), 1);
        server->StartSendThread();
    });
    EXPECT_EQ(first.Read(28), Frame("sent"));
    ASSERT_TRUE(WaitUntil([&] { return OnLoop([&] { return reports.size(); }) == 1; }));

    first.Close();
    ASSERT_TRUE(WaitUntil([] { return Recorder::HasLine("INFOR [][]断开了连接"); }));
    OnLoop([&] { EXPECT_EQ(server->SendBuff(server->At(0), "never", 5, receipt(2)), 1); });
    RawConnection second(port);  // its accept destroys the closed connection with its entry
    ASSERT_TRUE(WaitUntil([&] { return OnLoop([&] { return reports.size(); }) == 2; }));
    EXPECT_EQ(OnLoop([&] { return reports; }), (std::vector<std::pair<int, bool>>{{1, true}, {2, false}}));
}

TEST_F(SendQueue, EntriesOfASweptConnectionAreNeverSentThroughIt)
{
    RawConnection first(port);
    ASSERT_TRUE(WaitUntil([&] { return OnLoop([&] { return server->Count(); }) == 1; }));
    first.Close();
    ASSERT_TRUE(WaitUntil([] { return Recorder::HasLine("INFOR [][]断开了连接"); }));
    OnLoop([&] {
        for (int i = 0; i < 100; ++i)
            server->SendBuff(server->At(0), "stale", 5);
        server->StartSendThread();
    });
    // The next accept sweeps (destroys) the closed connection while the
    // send thread may be working through its entries.
    RawConnection second(port);
    ASSERT_TRUE(WaitUntil([] { return Recorder::HasLine("删除了一个已经断开的连接对象!"); }));
    OnLoop([&] { EXPECT_EQ(server->SendBuff(server->At(0), "fresh", 5), 1); });
    EXPECT_EQ(second.Read(29), Frame("fresh"));
}

} // namespace
