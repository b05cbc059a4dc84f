// Two people on one server, from registration to messages that wait for a
// user who left, and a server restarted while messages wait.

#include "TwoUserHub.h"

#include <marlune/Marlune.h>

#include <gtest/gtest.h>

using marlune::CMessageBase;
using marlune::CMessageUserFriend;
using marlune::CMessageUserInfor;

using namespace std::chrono_literals;
using Texts = std::vector<std::string>;

namespace {

// The chat text with a Chinese greeting, so the GBK path is crossed both ways.
const std::string kGreeting = "你好, bob";

// The friends listed in a profile answer, as "id@server" addresses.
Texts FriendsIn(const CMessageUserInfor& info)
{
    Texts friends;
    for (const auto& talker : info.talkers)
        friends.push_back(talker.userId + "@" + talker.serverName);
    return friends;
}

TEST(ChatScenario, TwoUsersRegisterBefriendChatAndReceiveWhatWasSentWhileAway)
{
    ServerUnderTest hub("hub");
    ASSERT_TRUE(hub.Start()) << hub.Output();
    ScenarioUser alice(hub, "alice", "alice-pw");
    ScenarioUser bob(hub, "bob", "bob-pw");
    ASSERT_TRUE(alice.Register());
    ASSERT_TRUE(bob.Register());
    ASSERT_TRUE(alice.LogIn());
    ASSERT_TRUE(bob.LogIn());
    EXPECT_EQ(alice.Client().Identity().Address(), "alice@hub");

    // Alice asks, Bob accepts; both get a fresh profile naming the other.
    ASSERT_TRUE(alice.Send(alice.Client().Builder().FriendRequest("bob@hub", "it's alice")));
    auto request = bob.Next<CMessageUserFriend>();
    ASSERT_TRUE(request) << hub.Output();
    EXPECT_EQ(request->asker.userId, "alice");
    EXPECT_EQ(request->text, "it's alice");
    ASSERT_TRUE(bob.Send(bob.Client().Builder().FriendAccept(*request)));
    auto accepted = alice.Next<CMessageUserFriend>();
    ASSERT_TRUE(accepted) << hub.Output();
    EXPECT_EQ(accepted->result, "success");
    auto aliceProfile = alice.Next<CMessageUserInfor>([](const CMessageBase& m) {
        return static_cast<const CMessageUserInfor&>(m).user == "alice";
    });
    ASSERT_TRUE(aliceProfile);
    EXPECT_EQ(FriendsIn(*aliceProfile), Texts{"bob@hub"});
    auto bobProfile = bob.Next<CMessageUserInfor>([](const CMessageBase& m) {
        return static_cast<const CMessageUserInfor&>(m).user == "bob";
    });
    ASSERT_TRUE(bobProfile);
    EXPECT_EQ(FriendsIn(*bobProfile), Texts{"alice@hub"});

    // Friends now see each other's status change.
    ASSERT_TRUE(bob.Send(bob.Client().Builder().Status("away")));
    EXPECT_EQ(alice.NextStatusOf("bob"), "away");
    ASSERT_TRUE(alice.Send(alice.Client().Builder().Status("busy")));
    EXPECT_EQ(bob.NextStatusOf("alice"), "busy");

    // Chat both ways.
    ASSERT_TRUE(alice.Say("bob@hub", kGreeting));
    EXPECT_EQ(bob.Chats(1), Texts{kGreeting});
    ASSERT_TRUE(bob.Say("alice@hub", "hi alice\nsee you at five"));
    EXPECT_EQ(alice.Chats(1), Texts{"hi alice\nsee you at five"});

    // Bob leaves; Alice sees it and writes three messages meanwhile.
    bob.LogOut();
    EXPECT_EQ(alice.NextStatusOf("bob"), "false");
    for (const char* text : {"first while away", "second while away", "third while away"})
        ASSERT_TRUE(alice.Say("bob@hub", text));
    ASSERT_TRUE(alice.Sync());

    // Back again, Bob receives them in order, once each.
    const auto loggedIn = std::chrono::steady_clock::now();
    ASSERT_TRUE(bob.LogIn());
    const Texts expected{"first while away", "second while away", "third while away"};
    EXPECT_EQ(bob.Chats(3), expected) << hub.Output();
    const auto latency = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - loggedIn);
    RecordProperty("stored_delivery_ms", static_cast<int>(latency.count()));
    EXPECT_EQ(bob.ChatsArrivingWithin(1500ms), Texts{});
    EXPECT_EQ(alice.NextStatusOf("bob"), "online");

    EXPECT_TRUE(hub.Exit()) << hub.Output();
}

// Messages stored for an absent user survive the end of the program: the
// next run delivers each of them once, and none delivered before.
void RestartWithMessagesPending(ServerUnderTest::Ending how)
{
    TwoUserHub cast;
    auto& [hub, alice, bob] = cast;
    ASSERT_TRUE(cast.StartAndLogIn()) << hub.Output();
    ASSERT_TRUE(alice.Say("bob@hub", "delivered before the restart"));
    ASSERT_EQ(bob.Chats(1), Texts{"delivered before the restart"}) << hub.Output();
    // The worker marks a message sent right after handing it over, then logs
    // it; a crash between the two would deliver that one message again.
    ASSERT_TRUE(hub.WaitForOutput(ServerUnderTest::Utf8(u8"已发送缓存消息"))) << hub.Output();
    bob.LogOut();
    const Texts pending{"pending 1", "pending 2", "pending 3", "pending 4"};
    for (const auto& text : pending)
        ASSERT_TRUE(alice.Say("bob@hub", text));
    ASSERT_TRUE(alice.Sync());
    alice.LogOut();

    ASSERT_TRUE(hub.End(how)) << hub.Output();
    ASSERT_TRUE(hub.Start()) << hub.Output();
    ASSERT_TRUE(bob.LogIn());
    EXPECT_EQ(bob.Chats(pending.size()), pending) << hub.Output();
    EXPECT_EQ(bob.ChatsArrivingWithin(2500ms), Texts{});

    // And once more: nothing comes back after a second restart either.
    bob.LogOut();
    ASSERT_TRUE(hub.End(how)) << hub.Output();
    ASSERT_TRUE(hub.Start()) << hub.Output();
    ASSERT_TRUE(bob.LogIn());
    EXPECT_EQ(bob.ChatsArrivingWithin(2500ms), Texts{});
    EXPECT_TRUE(hub.Exit()) << hub.Output();
}

TEST(RestartScenario, MessagesPendingAtExitAreDeliveredOnceAfterTheRestart)
{
    RestartWithMessagesPending(ServerUnderTest::Ending::kExitCommand);
}

TEST(RestartScenario, MessagesPendingAtSigtermAreDeliveredOnceAfterTheRestart)
{
    RestartWithMessagesPending(ServerUnderTest::Ending::kSigterm);
}

// A crash loses nothing that was stored, and what was delivered before it
// stays delivered.
TEST(RestartScenario, MessagesPendingAtACrashAreDeliveredOnceAfterTheRestart)
{
    RestartWithMessagesPending(ServerUnderTest::Ending::kSigkill);
}

} // namespace
