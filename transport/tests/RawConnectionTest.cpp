// The test support's raw connection against a real listening server: what
// the other tests' byte-exact checks and the soak's attackers rely on.

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <future>

using corvane::CFrame;
using quorvel::testsupport::WaitUntil;

namespace {

using namespace std::chrono_literals;

std::size_t Count(ServerFixture& fixture)
{
    return fixture.OnLoop([&] { return fixture.server->Count(); });
}

TEST(RawConnection, AFrameCutByATimeLimitIsCompletedByTheNextRead)
{
    ServerFixture fixture;
    RawConnection client(fixture.port, {.receiveBuffer = 4096});
    ASSERT_TRUE(WaitUntil([&] { return Count(fixture) == 1; }));
    const std::string big(8 << 20, 'b');
    std::promise<void> release;
    fixture.OnLoop([&] {
        fixture.server->SendBuff(fixture.server->At(0), big.data(), static_cast<std::uint32_t>(big.size()));
        fixture.server->SendBuff(fixture.server->At(0), "after", 5);
    });
    // Once the first bytes are here, the loop is held: it writes no more
    // until released, and what the kernels buffer is less than the frame.
    EXPECT_TRUE(WaitUntil([&] { return client.Unread() > 0; }));
    std::promise<void> held;
    fixture.thread.Loop().Post([&held, released = release.get_future().share()] {
        held.set_value();
        released.wait();
    });
    EXPECT_EQ(held.get_future().wait_for(10s), std::future_status::ready);
    EXPECT_FALSE(client.ReceiveFrame(0ms).has_value());
    release.set_value();
    // The next read goes on from where the cut one stopped.
    const auto whole = client.ReceiveFrame();
    ASSERT_TRUE(whole.has_value());
    EXPECT_TRUE(*whole == big);
    EXPECT_EQ(client.Read(CFrame::kHeaderSize + 5), Frame("after"));
    EXPECT_FALSE(client.ReadableWithin(0ms));
}

TEST(RawConnection, ReadsWithoutWaitingTellAClosedPeerFromAQuietOne)
{
    ServerFixture fixture;
    RawConnection client(fixture.port);
    ASSERT_TRUE(WaitUntil([&] { return Count(fixture) == 1; }));
    std::string into;
    EXPECT_TRUE(client.ReadSome(into, 100));
    EXPECT_TRUE(client.Drain());
    EXPECT_EQ(into, "");

    fixture.OnLoop([&] { fixture.server->SendBuff(fixture.server->At(0), "twelve bytes", 12); });
    ASSERT_TRUE(WaitUntil([&] { return client.Unread() == CFrame::kHeaderSize + 12; }));
    EXPECT_TRUE(client.ReadSome(into, 10));
    EXPECT_EQ(into, Frame("twelve bytes").substr(0, 10));
    EXPECT_EQ(client.Unread(), CFrame::kHeaderSize + 2);

    fixture.OnLoop([&] { fixture.server->At(0)->Close(); });
    ASSERT_TRUE(WaitUntil([&] { return !client.Drain(); }));
    EXPECT_FALSE(client.ReadSome(into, 100));
}

TEST(RawConnection, ConnectsFromTheLoopbackAddressItIsGiven)
{
    ServerFixture fixture;
    RawConnection client(fixture.port, {.from = "127.0.0.3"});
    ASSERT_TRUE(client.Open());
    ASSERT_TRUE(WaitUntil([&] { return Count(fixture) == 1; }));
    EXPECT_EQ(fixture.OnLoop([&] { return fixture.server->At(0)->PeerAddress(); }), "127.0.0.3");
    EXPECT_FALSE(RawConnection(fixture.port, {.from = "localhost"}).Open()) << "an address, not a name";
}

} // namespace
