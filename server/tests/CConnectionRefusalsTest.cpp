#include "ServiceTestSupport.h"
#include "WorkerTestSupport.h"

#include <gtest/gtest.h>

#include <string>

using quorvel::service::CChatServer;
using quorvel::service::CServiceLimits;
using quorvel::testsupport::WaitUntil;

namespace {

bool Counted(ServiceFixture& fixture, const std::string& key)
{
    return WaitUntil([&] { return fixture.Refused(key) > 0; });
}

TEST(ConnectionRefusals, EachTransportBoundThatBitesIsCountedUnderItsKey)
{
    ServiceFixture fixture;
    fixture.AddUser("alice", "a-pw");
    fixture.OnLoop([](CChatServer& service) {
        CServiceLimits limits;
        limits.maxConnectionsPerUser = 1;
        limits.connections.maxConnectionsPerAddress = 3;
        limits.connections.framesPerTurn = 2;
        limits.connections.loginTimeout = std::chrono::seconds(0);
        limits.connections.bufferBudgetBytes = 64 * 1024;
        service.SetLimits(limits);
        return true;
    });

    TestClient alice(fixture.Port());
    ASSERT_EQ(alice.Login("alice", "a-pw"), "success");
    // A second login of the same user is refused.
    TestClient again(fixture.Port());
    EXPECT_NE(again.Login("alice", "a-pw"), "success");
    EXPECT_TRUE(Counted(fixture, "MaxConnectionsPerUser"));

    TestClient hoarder(fixture.Port());
    TestClient fourth(fixture.Port());
    EXPECT_FALSE(fourth.ReceiveFrame(std::chrono::seconds(5))) << "closed at accept";
    EXPECT_TRUE(Counted(fixture, "MaxConnectionsPerAddress"));

    // Many frames in one write: only two are delivered per turn.
    std::string burst;
    for (int i = 0; i < 40; ++i)
        burst += RawConnection::Frame("x");
    ASSERT_TRUE(alice.Send(burst));
    EXPECT_TRUE(Counted(fixture, "FramesPerTurn"));

    // Most of a 1 MiB frame is more than the whole budget.
    ASSERT_TRUE(hoarder.SendPartOfFrame(1u << 20, 200 * 1024));
    EXPECT_FALSE(hoarder.ReceiveFrame(std::chrono::seconds(5))) << "closed for the budget";
    EXPECT_TRUE(Counted(fixture, "BufferBudgetBytes"));

    // With a time limit to log in, the refused connection, bound to
    // nobody, is closed.
    fixture.OnLoop([](CChatServer& service) {
        CServiceLimits limits = service.Limits();
        limits.connections.loginTimeout = std::chrono::seconds(1);
        service.SetLimits(limits);
        return true;
    });
    EXPECT_FALSE(again.ReceiveFrame(std::chrono::seconds(5))) << "closed for want of a login";
    EXPECT_TRUE(Counted(fixture, "LoginTimeoutSeconds"));
    EXPECT_EQ(fixture.Refused("MaxConnectionsPerUser"), 1u);
    EXPECT_EQ(fixture.Refused("MaxConnectionsPerAddress"), 1u);
    // Alice was served throughout.
    EXPECT_TRUE(alice.Sync());
}

} // namespace
