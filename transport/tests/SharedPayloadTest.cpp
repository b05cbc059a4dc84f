#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using corvane::CConnectionLimits;
using corvane::CFrame;
using quorvel::testsupport::WaitUntil;

namespace {

constexpr std::size_t kMiB = 1024 * 1024;

CMyRASSocket::SharedBytes Shared(std::size_t size, char fill)
{
    return std::make_shared<const std::string>(size, fill);
}

bool Active(ServerFixture& fixture, std::size_t i)
{
    return fixture.OnLoop([&] { return fixture.server->At(i)->active.load() != 0; });
}

// One payload, queued by reference on connections whose peers read late,
// between small frames that are copied: each peer gets every frame whole,
// in order, and the payload's bytes are left as they were.
TEST(SharedPayload, ArrivesWholeOnEveryConnectionBetweenCopiedFrames)
{
    constexpr std::size_t kPeers = 6;
    ServerFixture fixture;
    std::vector<std::unique_ptr<RawConnection>> peers;
    for (std::size_t i = 0; i < kPeers; ++i)
        peers.push_back(
            std::make_unique<RawConnection>(fixture.port, RawConnection::Options{.receiveBuffer = 64 * 1024}));
    ASSERT_TRUE(WaitUntil([&] { return fixture.OnLoop([&] { return fixture.server->Count(); }) == kPeers; }));

    const auto payload = Shared(3 * kMiB, 's');
    const auto small = Shared(100, 't');
    const int sent = fixture.OnLoop([&] {
        int ok = 0;
        for (std::size_t i = 0; i < kPeers; ++i) {
            CMyRASSocket* connection = fixture.server->At(i);
            ok += fixture.server->SendBuff(connection, "a", 1);
            ok += fixture.server->SendShared(connection, payload);
            ok += fixture.server->SendShared(connection, small);
            ok += fixture.server->SendShared(connection, payload);
        }
        return ok;
    });
    ASSERT_EQ(sent, static_cast<int>(4 * kPeers));
    const std::string expected = Frame("a") + Frame(*payload) + Frame(*small) + Frame(*payload);
    for (std::size_t i = 0; i < kPeers; ++i)
        ASSERT_TRUE(peers[i]->Read(expected.size()) == expected) << "peer " << i;
    EXPECT_EQ(*payload, std::string(3 * kMiB, 's'));
}

// From another thread the socket takes what it can at once, possibly part
// of the payload; the rest is queued by reference from where the write
// stopped, and a receipt reports each frame written.
TEST(SharedPayload, PartWrittenAtOnceContinuesWhereItStopped)
{
    ServerFixture fixture;
    RawConnection late(fixture.port, {.receiveBuffer = 64 * 1024});
    ASSERT_TRUE(WaitUntil([&] { return fixture.OnLoop([&] { return fixture.server->Count(); }) == 1; }));
    std::string text(5 * kMiB, '\0');
    for (std::size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char>('a' + i % 26);
    const auto payload = std::make_shared<const std::string>(text);
    std::atomic<int> written{0};
    std::thread sender([&] {
        for (int i = 0; i < 2; ++i) {
            auto lock = fixture.server->LockConnections();
            EXPECT_EQ(fixture.server->SendShared(fixture.server->List().at(0).get(), payload,
                                                 [&](bool ok) { written += ok ? 1 : 0; }),
                      1);
        }
    });
    sender.join();
    for (int i = 0; i < 2; ++i)
        ASSERT_TRUE(late.Read(payload->size() + CFrame::kHeaderSize) == Frame(text)) << "frame " << i;
    EXPECT_TRUE(WaitUntil([&] { return written.load() == 2; }));
}

// A shared payload counts whole against every connection that holds it, as
// a copy would: two peers that never read pass the budget together with
// one payload, and the one holding the most is closed.
TEST(SharedPayload, CountsWholeAgainstEachConnectionsBudgetShare)
{
    constexpr std::size_t kBudget = kMiB;
    ServerFixture fixture;
    CConnectionLimits limits;
    limits.bufferBudgetBytes = kBudget;
    fixture.OnLoop([&] { fixture.server->SetConnectionLimits(limits); });
    RawConnection stuckA(fixture.port, {.receiveBuffer = 4096});
    RawConnection stuckB(fixture.port, {.receiveBuffer = 4096});
    RawConnection reader(fixture.port);
    ASSERT_TRUE(WaitUntil([&] { return fixture.OnLoop([&] { return fixture.server->Count(); }) == 3; }));

    const auto big = Shared(600000, 'b');
    const std::size_t heldAfter = fixture.OnLoop([&] {
        for (std::size_t i = 0; i < 2; ++i)
            fixture.server->SendShared(fixture.server->At(i), big);
        return fixture.server->BufferedBytes();
    });
    EXPECT_LE(heldAfter, kBudget);
    ASSERT_TRUE(WaitUntil([&] { return !Active(fixture, 0) || !Active(fixture, 1); }));
    EXPECT_NE(Active(fixture, 0), Active(fixture, 1));

    const auto hello = Shared(5, 'h');
    EXPECT_EQ(fixture.OnLoop([&] { return fixture.server->SendShared(fixture.server->At(2), hello); }), 1);
    EXPECT_EQ(reader.Read(CFrame::kHeaderSize + 5), Frame(*hello));
}

// The per-connection bound counts a shared payload as a copy too: a peer
// that never reads is refused and closed once its queue would pass it.
TEST(SharedPayload, CountsWholeAgainstTheConnectionsQueueBound)
{
    ServerFixture fixture;
    RawConnection stuck(fixture.port, {.receiveBuffer = 4096});
    ASSERT_TRUE(WaitUntil([&] { return fixture.OnLoop([&] { return fixture.server->Count(); }) == 1; }));
    const auto chunk = Shared(2 * kMiB, 'c');
    const int accepted = fixture.OnLoop([&] {
        int ok = 0;
        while (ok < 64 && fixture.server->SendShared(fixture.server->At(0), chunk) == 1)
            ++ok;
        return ok;
    });
    // Seven frames of 2 MiB and their headers fit in 16 MiB, an eighth not.
    EXPECT_EQ(accepted, 7);
    EXPECT_TRUE(stuck.ClosedByPeerWithin());
}

} // namespace
