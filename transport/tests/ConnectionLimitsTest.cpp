#include "TestSupport.h"

#include "corvane/CLogThrottle.h"

#include <gtest/gtest.h>

#include <cstring>

using corvane::CConnectionLimits;
using corvane::CFrame;
using corvane::CLogThrottle;
using quorvel::testsupport::WaitUntil;

namespace {

constexpr std::size_t kBudget = 1u << 20;

void Apply(ServerFixture& fixture, const CConnectionLimits& limits)
{
    fixture.OnLoop([&] { fixture.server->SetConnectionLimits(limits); });
}

std::size_t Buffered(ServerFixture& fixture)
{
    return fixture.server->BufferedBytes();
}

bool Active(ServerFixture& fixture, std::size_t index)
{
    return fixture.OnLoop([&] { return fixture.server->At(index)->active.load() == 1; });
}

TEST(LogThrottle, OneLinePerCauseAndAddressAndPause)
{
    CLogThrottle throttle(std::chrono::seconds(60));
    const auto start = CLogThrottle::Clock::now();
    EXPECT_TRUE(throttle.Allow("budget", "10.0.0.1", start));
    EXPECT_FALSE(throttle.Allow("budget", "10.0.0.1", start + std::chrono::seconds(59)));
    EXPECT_TRUE(throttle.Allow("budget", "10.0.0.2", start));
    EXPECT_TRUE(throttle.Allow("login", "10.0.0.1", start));
    EXPECT_TRUE(throttle.Allow("budget", "10.0.0.1", start + std::chrono::seconds(60)));
}

TEST(LogThrottle, RemembersABoundedNumberOfAddresses)
{
    CLogThrottle throttle(std::chrono::seconds(60));
    const auto start = CLogThrottle::Clock::now();
    for (std::size_t i = 0; i < CLogThrottle::kRemembered; ++i)
        ASSERT_TRUE(throttle.Allow("flood", std::to_string(i), start));
    // Full of young entries: a new address waits rather than growing the map.
    EXPECT_FALSE(throttle.Allow("flood", "new", start));
    // Once they are old they make room.
    EXPECT_TRUE(throttle.Allow("flood", "new", start + std::chrono::seconds(61)));
}

TEST(ConnectionLimits, ReceiveBudgetClosesTheBiggestHolderAndFreesItAtOnce)
{
    ServerFixture fixture;
    CConnectionLimits limits;
    limits.bufferBudgetBytes = kBudget;
    Apply(fixture, limits);

    RawConnection polite(fixture.port);
    RawConnection smaller(fixture.port);
    RawConnection bigger(fixture.port);
    ASSERT_TRUE(WaitUntil([&] { return fixture.OnLoop([&] { return fixture.server->Count(); }) == 3; }));

    ASSERT_TRUE(smaller.SendPartOfFrame(900000, 500000));
    ASSERT_TRUE(WaitUntil([&] { return Buffered(fixture) == 500024; }));
    // Passing the budget, the connection holding the most is closed.
    // The server may shut the connection before all of it is sent.
    static_cast<void>(bigger.SendPartOfFrame(900000, 700000));
    EXPECT_TRUE(bigger.ClosedByPeerWithin());
    // Its bytes come back at once, not at the next accept's sweep.
    EXPECT_TRUE(WaitUntil([&] { return Buffered(fixture) == 500024; }));
    EXPECT_TRUE(WaitUntil([] {
        for (const auto& line : Recorder::Lines())
            if (line.find("ERROR 缓存总量") == 0 && line.find("超过上限 1048576 字节，关闭占用最多的连接 127.0.0.1 []") !=
                                                       std::string::npos)
                return true;
        return false;
    }));

    // The others are untouched: the smaller holder completes its frame and
    // a well-behaved client's frame is delivered.
    ASSERT_TRUE(smaller.Send(std::string(400000, 'x')));
    ASSERT_TRUE(polite.Send(Frame("hello")));
    EXPECT_TRUE(WaitUntil([] { return Recorder::Payloads().size() == 2; }));
    EXPECT_TRUE(WaitUntil([&] { return Buffered(fixture) == 0; }));
    EXPECT_TRUE(Active(fixture, 0));
    EXPECT_TRUE(Active(fixture, 1));
}

TEST(ConnectionLimits, SendBudgetHoldsAFanOutToReadersThatDoNotRead)
{
    ServerFixture fixture;
    CConnectionLimits limits;
    limits.bufferBudgetBytes = kBudget;
    Apply(fixture, limits);

    RawConnection stuckA(fixture.port, {.receiveBuffer = 4096});
    RawConnection stuckB(fixture.port, {.receiveBuffer = 4096});
    RawConnection reader(fixture.port);
    ASSERT_TRUE(WaitUntil([&] { return fixture.OnLoop([&] { return fixture.server->Count(); }) == 3; }));

    const std::string big(600000, 'b');
    // Both frames are queued within one turn of the loop; the second passes
    // the budget and one of the two queues is dropped at once.
    const std::size_t heldAfter = fixture.OnLoop([&] {
        for (std::size_t i = 0; i < 2; ++i)
            fixture.server->SendBuff(fixture.server->At(i), big.data(), static_cast<std::uint32_t>(big.size()));
        return fixture.server->BufferedBytes();
    });
    EXPECT_LE(heldAfter, kBudget);
    ASSERT_TRUE(WaitUntil([&] { return !Active(fixture, 0) || !Active(fixture, 1); }));
    const bool firstClosed = !Active(fixture, 0);
    EXPECT_NE(firstClosed, !Active(fixture, 1));
    EXPECT_TRUE((firstClosed ? stuckA : stuckB).ClosedByPeerWithin());

    const std::string hello = "hello";
    EXPECT_EQ(fixture.OnLoop([&] { return fixture.server->SendBuff(fixture.server->At(2), hello.data(), 5); }), 1);
    EXPECT_EQ(reader.Read(CFrame::kHeaderSize + 5), Frame(hello));
}

TEST(ConnectionLimits, AnAddressHasAtMostItsShareOfConnections)
{
    ServerFixture fixture;
    CConnectionLimits limits;
    limits.maxConnectionsPerAddress = 2;
    Apply(fixture, limits);

    RawConnection first(fixture.port);
    RawConnection second(fixture.port);
    ASSERT_TRUE(WaitUntil([&] { return fixture.OnLoop([&] { return fixture.server->Count(); }) == 2; }));
    RawConnection third(fixture.port);
    EXPECT_TRUE(third.ClosedByPeerWithin());
    EXPECT_TRUE(Recorder::HasLine("ERROR 来自 127.0.0.1 的连接数已达上限 2，新连接被关闭"));

    // The first two are served as before.
    ASSERT_TRUE(first.Send(Frame("one")));
    ASSERT_TRUE(second.Send(Frame("two")));
    EXPECT_TRUE(WaitUntil([] { return Recorder::Payloads().size() == 2; }));

    // A closed connection makes room for a new one.
    first.Close();
    ASSERT_TRUE(WaitUntil([&] { return !Active(fixture, 0); }));
    RawConnection fourth(fixture.port);
    ASSERT_TRUE(fourth.Send(Frame("four")));
    EXPECT_TRUE(WaitUntil([] { return Recorder::Payloads().size() == 3; }));
}

TEST(ConnectionLimits, ConnectionsWithoutLoginAreClosedAfterTheTimeLimit)
{
    ServerFixture fixture;
    CConnectionLimits limits;
    limits.loginTimeout = std::chrono::seconds(1);
    Apply(fixture, limits);

    RawConnection user(fixture.port);
    RawConnection peerServer(fixture.port);
    ASSERT_TRUE(WaitUntil([&] { return fixture.OnLoop([&] { return fixture.server->Count(); }) == 2; }));
    fixture.OnLoop([&] {
        std::strcpy(fixture.server->At(0)->userId, "alice");
        fixture.server->At(1)->MarkAdmitted();
    });
    RawConnection silent(fixture.port);
    ASSERT_TRUE(WaitUntil([&] { return fixture.OnLoop([&] { return fixture.server->Count(); }) == 3; }));

    EXPECT_TRUE(silent.ClosedByPeerWithin());
    EXPECT_TRUE(WaitUntil([] { return Recorder::HasLine("INFOR 连接 127.0.0.1 在 1 秒内未登录，已关闭"); }));
    // Accepted before it, the bound and the admitted connection are past
    // their time as well, and still open.
    EXPECT_TRUE(Active(fixture, 0));
    EXPECT_TRUE(Active(fixture, 1));
    ASSERT_TRUE(user.Send(Frame("still here")));
    EXPECT_TRUE(WaitUntil([] { return Recorder::Payloads().size() == 1; }));
}

TEST(ConnectionLimits, OneTurnDeliversAtMostItsShareOfFrames)
{
    ServerFixture fixture;
    CConnectionLimits limits;
    limits.framesPerTurn = 4;
    Apply(fixture, limits);

    RawConnection client(fixture.port);
    ASSERT_TRUE(WaitUntil([&] { return fixture.OnLoop([&] { return fixture.server->Count(); }) == 1; }));
    std::string burst;
    for (int i = 0; i < 10; ++i)
        burst += Frame("frame" + std::to_string(i));
    const std::size_t inOneTurn = fixture.OnLoop([&] {
        fixture.server->At(0)->ReceiveBytes(reinterpret_cast<const std::uint8_t*>(burst.data()), burst.size());
        return Recorder::Payloads().size();
    });
    EXPECT_EQ(inOneTurn, 4u);
    // The rest follow in later turns, in order, and reading goes on after.
    ASSERT_TRUE(WaitUntil([] { return Recorder::Payloads().size() == 10; }));
    ASSERT_TRUE(client.Send(Frame("after")));
    ASSERT_TRUE(WaitUntil([] { return Recorder::Payloads().size() == 11; }));
    const auto payloads = Recorder::Payloads();
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(payloads[static_cast<std::size_t>(i)], "frame" + std::to_string(i));
    EXPECT_EQ(payloads.back(), "after");
    EXPECT_TRUE(Recorder::HasLine("INFOR 连接 127.0.0.1 [] 一轮处理的数据包已达 4 个，其余稍后处理"));
}

TEST(ConnectionLimits, AFloodOverTheNetworkIsDeliveredWhole)
{
    ServerFixture fixture;
    CConnectionLimits limits;
    limits.framesPerTurn = 3;
    Apply(fixture, limits);

    RawConnection flood(fixture.port);
    RawConnection polite(fixture.port);
    std::string burst;
    constexpr int kFrames = 2000;
    for (int i = 0; i < kFrames; ++i)
        burst += Frame("f" + std::to_string(i));
    ASSERT_TRUE(flood.Send(burst));
    ASSERT_TRUE(polite.Send(Frame("polite")));
    ASSERT_TRUE(WaitUntil([] { return Recorder::Payloads().size() == kFrames + 1; }));
    int next = 0;
    for (const auto& payload : Recorder::Payloads()) {
        if (payload != "polite") {
            EXPECT_EQ(payload, "f" + std::to_string(next++));
        }
    }
    EXPECT_EQ(Buffered(fixture), 0u);
}

} // namespace
