// Two servers, each the other's route server: users of both become friends
// and chat, messages wait for a user who is away, and for a server that is
// down. Route servers that hang hold up nothing but their own traffic.

#include "quorvel_test_support/FramePeer.h"
#include "ScenarioUser.h"
#include "ServerUnderTest.h"

#include <marlune/Marlune.h>

#include <gtest/gtest.h>

#include <thread>

using marlune::CMessageBase;
using marlune::CMessageUserFriend;
using marlune::CMessageUserInfor;
using quorvel::testsupport::HungPeer;

using namespace std::chrono_literals;
using Texts = std::vector<std::string>;

namespace {

// The log line of a server that received `name`'s announcement.
std::string NeighbourOnline(const std::string& name)
{
    return ServerUnderTest::Utf8(u8"好友服务器 ") + name + " / 127.0.0.1 /";
}

TEST(FederationScenario, UsersOfTwoServersBefriendAndChatThroughOutagesOfEither)
{
    ServerUnderTest alpha("alpha");
    ServerUnderTest beta("beta");
    alpha.AddUser("carol", "carol-pw");
    beta.AddUser("dave", "dave-pw");
    alpha.AddRouteServer(beta);
    beta.AddRouteServer(alpha);

    // Each announces itself when its service starts: beta reaches alpha at
    // once, and alpha reaches beta when its service starts again.
    ASSERT_TRUE(alpha.Start()) << alpha.Output();
    ASSERT_TRUE(beta.Start()) << beta.Output();
    ASSERT_TRUE(alpha.WaitForOutput(NeighbourOnline("beta"))) << alpha.Output();
    ASSERT_TRUE(alpha.Command("stop", ServerUnderTest::Utf8(u8"通信监听已经停止...")));
    ASSERT_TRUE(alpha.Command("start", ServerUnderTest::Listening(alpha.Port()), 2)) << alpha.Output();
    ASSERT_TRUE(beta.WaitForOutput(NeighbourOnline("alpha"))) << beta.Output();

    ScenarioUser carol(alpha, "carol", "carol-pw");
    ScenarioUser dave(beta, "dave", "dave-pw");
    ASSERT_TRUE(carol.LogIn());
    ASSERT_TRUE(dave.LogIn());

    // Each finds the other's users as it finds its own.
    ASSERT_TRUE(carol.Send(carol.Client().Builder().Infor("dave")));
    auto found = carol.Next<CMessageUserInfor>();
    ASSERT_TRUE(found) << alpha.Output();
    EXPECT_EQ(found->user, "dave");
    EXPECT_EQ(found->name, "dave");
    EXPECT_EQ(found->password, "");

    // A friendship across the two servers.
    ASSERT_TRUE(carol.Send(carol.Client().Builder().FriendRequest("dave@beta", "carol from alpha")));
    auto request = dave.Next<CMessageUserFriend>();
    ASSERT_TRUE(request) << alpha.Output() << beta.Output();
    EXPECT_EQ(request->source, "carol@alpha");
    EXPECT_EQ(request->asker.userId, "carol");
    EXPECT_EQ(request->asker.serverName, "alpha");
    ASSERT_TRUE(dave.Send(dave.Client().Builder().FriendAccept(*request)));
    auto accepted = carol.Next<CMessageUserFriend>();
    ASSERT_TRUE(accepted) << alpha.Output() << beta.Output();
    EXPECT_EQ(accepted->result, "success");
    auto profile = carol.Next<CMessageUserInfor>([](const CMessageBase& m) {
        return static_cast<const CMessageUserInfor&>(m).user == "carol";
    });
    ASSERT_TRUE(profile);
    ASSERT_EQ(profile->talkers.size(), 1u);
    EXPECT_EQ(profile->talkers[0].userId, "dave");
    EXPECT_EQ(profile->talkers[0].serverName, "beta");

    // Chat both ways.
    ASSERT_TRUE(carol.Say("dave@beta", "hello dave"));
    EXPECT_EQ(dave.Chats(1), Texts{"hello dave"}) << alpha.Output() << beta.Output();
    ASSERT_TRUE(dave.Say("carol@alpha", "hello carol"));
    EXPECT_EQ(carol.Chats(1), Texts{"hello carol"}) << alpha.Output() << beta.Output();

    // Dave away: beta keeps the messages for him.
    dave.LogOut();
    ASSERT_TRUE(carol.Say("dave@beta", "while you were away 1"));
    ASSERT_TRUE(carol.Say("dave@beta", "while you were away 2"));
    ASSERT_TRUE(carol.Sync());
    ASSERT_TRUE(dave.LogIn());
    EXPECT_EQ(dave.Chats(2), (Texts{"while you were away 1", "while you were away 2"})) << beta.Output();
    dave.LogOut();

    // Beta down: alpha keeps the message and forwards it once beta is back.
    ASSERT_TRUE(beta.Exit()) << beta.Output();
    const std::string routing = ServerUnderTest::Utf8(u8"准备路由消息");
    const int routedBefore = alpha.Count(routing);
    ASSERT_TRUE(carol.Say("dave@beta", "sent while beta was down"));
    ASSERT_TRUE(carol.Sync());
    // alpha's worker tries it twice: the first try failed, or there would
    // be no second.
    ASSERT_TRUE(alpha.WaitForOutput(routing, routedBefore + 2)) << alpha.Output();
    ASSERT_TRUE(beta.Start()) << beta.Output();
    ASSERT_TRUE(dave.LogIn());
    EXPECT_EQ(dave.Chats(1), Texts{"sent while beta was down"}) << alpha.Output() << beta.Output();
    EXPECT_EQ(dave.ChatsArrivingWithin(2s), Texts{});

    // And back the other way to a user of alpha.
    ASSERT_TRUE(dave.Say("carol@alpha", "glad to be back"));
    EXPECT_EQ(carol.Chats(1), Texts{"glad to be back"}) << alpha.Output() << beta.Output();

    EXPECT_TRUE(beta.Exit()) << beta.Output();
    EXPECT_TRUE(alpha.Exit()) << alpha.Output();
}

TEST(FederationScenario, HungRouteServersHoldUpNoLoginNoLocalChatAndNoExit)
{
    HungPeer stuck(HungPeer::Mode::kNeverReads);
    HungPeer silent(HungPeer::Mode::kNeverAccepts);
    ServerUnderTest alpha("alpha");
    alpha.AddUser("carol", "carol-pw");
    alpha.AddUser("bob", "bob-pw");
    alpha.AddRouteServer("stuck", stuck.Port());
    alpha.AddRouteServer("silent", silent.Port());
    const std::string sendFailed = ServerUnderTest::Utf8(u8"发送数据失败");

    ASSERT_TRUE(alpha.Start()) << alpha.Output();
    ScenarioUser carol(alpha, "carol", "carol-pw");
    ScenarioUser bob(alpha, "bob", "bob-pw");
    ASSERT_TRUE(carol.LogIn());
    ASSERT_TRUE(bob.LogIn());
    ASSERT_TRUE(carol.Say("dave@stuck", std::string(8 * 1024 * 1024, 'x')));
    ASSERT_TRUE(alpha.WaitForOutput(ServerUnderTest::Utf8(u8"路由到路由服务器:stuck[127.0.0.1]"))) << alpha.Output();

    ASSERT_TRUE(carol.Say("bob@alpha", "close to home"));
    EXPECT_EQ(bob.Chats(1), Texts{"close to home"}) << alpha.Output();
    bob.LogOut();
    EXPECT_TRUE(bob.LogIn());
    EXPECT_EQ(alpha.Output().find(sendFailed), std::string::npos) << "answered while the routed message was stuck";

    EXPECT_TRUE(alpha.Exit()) << alpha.Output();
    EXPECT_EQ(alpha.Output().find(sendFailed), std::string::npos) << "the exit did not wait for the stuck send";
}

} // namespace
