#include "ServiceTestSupport.h"

#include "marlune/Marlune.h"

#include <gtest/gtest.h>

using marlune::CMessageChangeStatu;
using marlune::CMessageUserFriend;
using marlune::CMessageUserInfor;
using quorvel::service::CChatServer;
using quorvel::service::CServiceLimits;

namespace {

CMessageChangeStatu Change(const std::string& userId, const std::string& server, const std::string& statu)
{
    CMessageChangeStatu change;
    change.type = CMessageChangeStatu::kType;
    change.userId = userId;
    change.server = server;
    change.statu = statu;
    return change;
}

// The status-change messages among payloads, as "user:statu".
std::vector<std::string> Changes(const std::vector<std::string>& payloads)
{
    std::vector<std::string> changes;
    for (const auto& payload : payloads) {
        auto message = Parse(payload);
        if (auto* change = dynamic_cast<CMessageChangeStatu*>(message.get()))
            changes.push_back(change->userId + ":" + change->statu);
    }
    return changes;
}

class StatusAndFriends : public ::testing::Test {
protected:
    StatusAndFriends()
    {
        fixture.AddUser("alice", "a-pw", "Alice", "bob@hub//carol@hub");
        fixture.AddUser("bob", "b-pw", "Bob");
        fixture.AddUser("carol", "c-pw", "Carol");
        fixture.AddUser("nina", "n-pw", "Local Nina");
        fixture.AddNeighbor("far", {MakeTalker("nina", "far", "Far Nina", "", "alice@hub")});
        for (auto* pair : {&bob, &carol, &nina}) {
            pair->first = std::make_unique<TestClient>(fixture.Port());
            EXPECT_EQ(pair->first->Login(pair->second, pair->second.substr(0, 1) + "-pw"), "success");
        }
        alice = std::make_unique<TestClient>(fixture.Port());
        EXPECT_EQ(alice->Login("alice", "a-pw"), "success");
        for (auto* pair : {&bob, &carol, &nina})
            pair->first->Sync();
    }

    // What a client received before now.
    std::vector<std::string> Received(TestClient& client)
    {
        auto before = client.Sync();
        return before ? *before : std::vector<std::string>{"<no sync>"};
    }

    ServiceFixture fixture;
    std::unique_ptr<TestClient> alice;
    std::pair<std::unique_ptr<TestClient>, std::string> bob{nullptr, "bob"};
    std::pair<std::unique_ptr<TestClient>, std::string> carol{nullptr, "carol"};
    std::pair<std::unique_ptr<TestClient>, std::string> nina{nullptr, "nina"};
};

} // namespace

TEST_F(StatusAndFriends, FriendsUpToTheFirstEmptyItemAreTold)
{
    CMessageChangeStatu change = Change("alice", "hub", "away");
    ASSERT_TRUE(alice->Send(change));
    ASSERT_TRUE(alice->Sync());

    EXPECT_EQ(Changes(Received(*bob.first)), std::vector<std::string>{"alice:away"});
    EXPECT_TRUE(Received(*carol.first).empty());
    EXPECT_TRUE(Received(*nina.first).empty());
    EXPECT_EQ(fixture.Find("alice")->statu, "away");
    EXPECT_EQ(ServiceLogLines::Count("非即时处理消息:user-changestatu 已经加入消息队列处理...."), 1);
    EXPECT_EQ(ServiceLogLines::Count("用户 alice 修改状态 hub@away 成功!"), 1);
    EXPECT_TRUE(fixture.Stored().empty());
    EXPECT_EQ(fixture.configSaves, 0);
}

TEST_F(StatusAndFriends, WithSendAllFriendEveryOtherLoggedInUserIsTold)
{
    fixture.sendAllFriend = true;
    CMessageChangeStatu change = Change("alice", "hub", "away");
    ASSERT_TRUE(alice->Send(change));
    auto own = alice->Sync();
    ASSERT_TRUE(own);
    EXPECT_TRUE(Changes(*own).empty());
    for (auto* pair : {&bob, &carol, &nina})
        EXPECT_EQ(Changes(Received(*pair->first)), std::vector<std::string>{"alice:away"}) << pair->second;
}

TEST_F(StatusAndFriends, NeighbourUsersChangeTheirRecordAndOnlyLocalFriendsAreTold)
{
    // Far Nina's friend alice is a local user; local nina's record is untouched.
    CMessageChangeStatu change = Change("nina", "far", "busy");
    ASSERT_TRUE(bob.first->Send(change));
    ASSERT_TRUE(bob.first->Sync());
    EXPECT_EQ(Changes(Received(*alice)), std::vector<std::string>{"nina:busy"});
    EXPECT_EQ(fixture.Find("nina@far")->statu, "busy");
    EXPECT_EQ(fixture.Find("nina@hub")->statu, "online");

    // alice's friend nina@far is not told, though a local "nina" is logged in.
    fixture.OnLoop([](CChatServer& service) { service.localServer.GetTalkerByUserID("alice")->friends = "nina@far"; });
    CMessageChangeStatu mine = Change("alice", "hub", "x");
    ASSERT_TRUE(alice->Send(mine));
    ASSERT_TRUE(alice->Sync());
    EXPECT_TRUE(Received(*nina.first).empty());
}

TEST_F(StatusAndFriends, UnknownOrEmptyServerChangesNothingButIsLogged)
{
    for (const char* server : {"nowhere", ""}) {
        CMessageChangeStatu change = Change("alice", server, "gone");
        ASSERT_TRUE(bob.first->Send(change));
    }
    ASSERT_TRUE(bob.first->Sync());
    EXPECT_EQ(ServiceLogLines::Count("用户 alice 修改状态 nowhere@gone 成功!"), 1);
    EXPECT_EQ(fixture.Find("alice")->statu, "online");
    for (auto* pair : {&bob, &carol, &nina})
        EXPECT_TRUE(Received(*pair->first).empty());
}

TEST_F(StatusAndFriends, AcceptedFriendMessageRecordsBothSidesThenDelivers)
{
    const bool delivered = fixture.OnLoop([](CChatServer& service) {
        CMessageUserFriend accepted;
        accepted.type = CMessageUserFriend::kType;
        accepted.source = "carol@hub";
        accepted.target = "bob@hub";
        accepted.result = "success";
        accepted.asker = MakeTalker("bob", "hub");
        accepted.asked = MakeTalker("carol", "hub");
        return service.HandleMsgCache(&accepted);
    });
    EXPECT_TRUE(delivered);
    EXPECT_EQ(fixture.Find("bob")->friends, "carol@hub");
    EXPECT_EQ(fixture.Find("carol")->friends, "bob@hub");
    EXPECT_EQ(fixture.configSaves, 1);

    auto toBob = Received(*bob.first);
    ASSERT_EQ(toBob.size(), 2u);
    EXPECT_EQ(TypeOf(toBob[0]), "user-infor");
    EXPECT_EQ(TypeOf(toBob[1]), "user-friend");
    auto profile = Parse(toBob[0]);
    auto* infor = dynamic_cast<CMessageUserInfor*>(profile.get());
    ASSERT_TRUE(infor);
    EXPECT_EQ(infor->user, "bob");
    ASSERT_EQ(infor->talkers.size(), 1u);
    EXPECT_EQ(infor->talkers[0].userId, "carol");

    auto toCarol = Received(*carol.first);
    ASSERT_EQ(toCarol.size(), 1u);
    EXPECT_EQ(TypeOf(toCarol[0]), "user-infor");
}

TEST_F(StatusAndFriends, FriendMessagesNotAcceptedOrNotDeliverableRecordNothingHere)
{
    const bool refusedDelivered = fixture.OnLoop([](CChatServer& service) {
        CMessageUserFriend request;
        request.type = CMessageUserFriend::kType;
        request.target = "carol@hub";
        request.asker = MakeTalker("bob", "hub");
        request.asked = MakeTalker("carol", "hub");
        return service.HandleMsgCache(&request);
    });
    EXPECT_TRUE(refusedDelivered);
    EXPECT_EQ(fixture.Find("bob")->friends, "");

    const bool routed = fixture.OnLoop([](CChatServer& service) {
        CMessageUserFriend accepted;
        accepted.type = CMessageUserFriend::kType;
        accepted.target = "zed@elsewhere";
        accepted.result = "success";
        accepted.asker = MakeTalker("bob", "hub");
        accepted.asked = MakeTalker("zed", "elsewhere");
        return service.HandleMsgCache(&accepted) || accepted.route != 1;
    });
    EXPECT_FALSE(routed);
    EXPECT_EQ(fixture.Find("bob")->friends, "");
    EXPECT_EQ(fixture.configSaves, 0);
}

TEST_F(StatusAndFriends, FriendshipsBeyondTheLimitAreNotRecordedAndRepeatsNeverGrowTheList)
{
    fixture.OnLoop([](CChatServer& service) {
        CServiceLimits limits;
        limits.maxFriends = 2;
        service.SetLimits(limits);
        return true;
    });
    auto accept = [this](const std::string& asker, const std::string& asked) {
        fixture.OnLoop([&](CChatServer& service) {
            CMessageUserFriend accepted;
            accepted.type = CMessageUserFriend::kType;
            accepted.source = asked + "@hub";
            accepted.target = asker + "@hub";
            accepted.result = "success";
            accepted.asker = MakeTalker(asker, "hub");
            accepted.asked = MakeTalker(asked, "hub");
            return service.HandleMsgCache(&accepted);
        });
    };
    accept("bob", "carol");
    accept("bob", "carol");
    accept("bob", "nina");
    EXPECT_EQ(fixture.Find("bob")->friends, "carol@hub/nina@hub");
    // Bob is full: a third friendship is recorded on neither side, a repeat
    // of a recorded one changes nothing, and the refusal is logged once.
    accept("alice", "bob");
    accept("bob", "alice");
    accept("bob", "carol");
    EXPECT_EQ(fixture.Find("bob")->friends, "carol@hub/nina@hub");
    EXPECT_EQ(fixture.Find("alice")->friends, "bob@hub//carol@hub");
    EXPECT_EQ(ServiceLogLines::Count("用户 bob 的好友已达上限 2,好友关系未记录!"), 1);
    // Carol, below the limit, still makes friends.
    accept("carol", "nina");
    EXPECT_EQ(fixture.Find("carol")->friends, "bob@hub/nina@hub");
}
