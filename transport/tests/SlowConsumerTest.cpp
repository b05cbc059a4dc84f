#include "TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

using quorvel::testsupport::WaitUntil;

namespace {

// The slow-consumer bound, stated here rather than taken from the library.
constexpr std::size_t kSendBound = 16u * 1024 * 1024;
constexpr std::size_t kMiB = 1024 * 1024;

TEST(SlowConsumer, PeerThatNeverReadsIsClosedWithoutStallingOthers)
{
    ServerFixture fixture;
    RawConnection stuck(fixture.port);
    RawConnection healthy(fixture.port);
    ASSERT_TRUE(WaitUntil([&] { return fixture.OnLoop([&] { return fixture.server->Count(); }) == 2; }));

    const std::string chunk(1024 * 1024, 'z');
    const int accepted = fixture.OnLoop([&] {
        int sent = 0;
        while (sent < 64 && fixture.server->SendBuff(fixture.server->At(0), chunk.data(), 1024 * 1024) == 1)
            ++sent;
        return sent;
    });
    EXPECT_GE(accepted, 15);
    EXPECT_LT(accepted, 64);
    EXPECT_TRUE(WaitUntil([] {
        for (const std::string& line : Recorder::Lines())
            if (line.find("作为慢速连接关闭") != std::string::npos)
                return true;
        return false;
    }));
    EXPECT_TRUE(WaitUntil([] { return Recorder::HasLine("INFOR [][]断开了连接"); }));

    EXPECT_EQ(fixture.OnLoop([&] { return fixture.server->SendBuff(fixture.server->At(1), "ok", 2); }), 1);
    EXPECT_EQ(healthy.Read(26), Frame("ok"));
}

TEST(SlowConsumer, ConcurrentSendersNeverInterleaveFrames)
{
    ServerFixture fixture;
    RawConnection reader(fixture.port);
    ASSERT_TRUE(WaitUntil([&] { return fixture.OnLoop([&] { return fixture.server->Count(); }) == 1; }));
    const std::string a(5000, 'a');
    const std::string b(7000, 'b');
    constexpr int kRounds = 200;
    auto sender = [&](const std::string& payload) {
        for (int i = 0; i < kRounds; ++i) {
            auto lock = fixture.server->LockConnections();
            auto& list = fixture.server->List();
            fixture.server->SendBuff(list.at(0).get(), payload.data(), static_cast<std::uint32_t>(payload.size()));
        }
    };
    std::thread one(sender, a);
    std::thread two(sender, b);
    std::string received = reader.Read(kRounds * (a.size() + 24 + b.size() + 24));
    one.join();
    two.join();
    ASSERT_FALSE(received.empty());
    int as = 0;
    int bs = 0;
    for (std::size_t at = 0; at < received.size();) {
        const std::string& expected = received[at + 24] == 'a' ? a : b;
        ASSERT_EQ(received.substr(at, 24 + expected.size()), Frame(expected)) << "at " << at;
        (&expected == &a ? as : bs)++;
        at += 24 + expected.size();
    }
    EXPECT_EQ(as, kRounds);
    EXPECT_EQ(bs, kRounds);
}

// A write in flight counts against the bound as much as queued frames: the
// first frame is being written (part of it has reached the peer) while the
// loop goes on queueing behind it in later handlers.
TEST(SlowConsumer, BoundCountsTheWriteInFlight)
{
    ServerFixture fixture;
    RawConnection stuck(fixture.port, {.receiveBuffer = 64 * 1024});
    ASSERT_TRUE(WaitUntil([&] { return fixture.OnLoop([&] { return fixture.server->Count(); }) == 1; }));
    auto send = [&](const std::string& payload) {
        return fixture.OnLoop([&] {
            return fixture.server->SendBuff(fixture.server->At(0), payload.data(),
                                            static_cast<std::uint32_t>(payload.size()));
        });
    };
    const std::string first(12 * kMiB, 'f');
    ASSERT_EQ(send(first), 1);
    ASSERT_TRUE(WaitUntil([&] { return stuck.Unread() > 0; }));

    const std::string chunk(kMiB, 'c');
    std::size_t accepted = first.size() + 24;
    int result = 1;
    while (result == 1 && accepted < 4 * kSendBound) {
        result = send(chunk);
        if (result == 1)
            accepted += chunk.size() + 24;
    }
    ASSERT_EQ(result, 0) << "never refused after " << accepted << " bytes";
    EXPECT_GT(accepted + chunk.size() + 24, kSendBound) << "refused before the bound was reached";
    // What the kernels took before the close was written, not waiting.
    std::size_t written = 0;
    ASSERT_TRUE(stuck.ClosedByPeerWithin(std::chrono::seconds(5), &written));
    EXPECT_LE(accepted - written, kSendBound) << accepted << " bytes accepted, " << written << " written";
}

// A frame sent from another thread goes straight to the socket, which takes
// only part of it when the peer reads late; the rest must follow without the
// part already written.
TEST(SlowConsumer, FramesThatTheSocketTakesInPartArriveWholeAndOnce)
{
    ServerFixture fixture;
    RawConnection late(fixture.port, {.receiveBuffer = 64 * 1024});
    ASSERT_TRUE(WaitUntil([&] { return fixture.OnLoop([&] { return fixture.server->Count(); }) == 1; }));
    std::vector<std::string> payloads;
    for (char fill : {'p', 'q', 'r'})
        payloads.emplace_back(5 * kMiB, fill);
    std::thread sender([&] {
        for (const std::string& payload : payloads) {
            auto lock = fixture.server->LockConnections();
            EXPECT_EQ(fixture.server->SendBuff(fixture.server->List().at(0).get(), payload.data(),
                                               static_cast<std::uint32_t>(payload.size())),
                      1);
        }
    });
    sender.join();
    for (const std::string& payload : payloads)
        ASSERT_TRUE(late.Read(payload.size() + 24) == Frame(payload)) << "frame of '" << payload[0] << "'";
    EXPECT_EQ(fixture.OnLoop([&] { return fixture.server->SendBuff(fixture.server->At(0), "end", 3); }), 1);
    EXPECT_EQ(late.Read(27), Frame("end"));
}

} // namespace
