#include "ServiceTestSupport.h"

#include "marlune/Marlune.h"

#include <gtest/gtest.h>

using marlune::CMessageBase;
using marlune::CMessageChangeStatu;
using marlune::CMessageUserInfor;
using marlune::CMessageUserList;
using marlune::CTalker;
using quorvel::service::CChatServer;
using quorvel::service::CServiceLimits;

namespace {

CMessageUserList ListRequest(const std::string& userId, const std::string& filter, bool online = false)
{
    CMessageUserList list;
    list.type = CMessageUserList::kType;
    list.userId = userId;
    list.filter = filter;
    list.online = online ? "true" : "";
    return list;
}

CMessageUserInfor InforRequest(const std::string& user)
{
    CMessageUserInfor infor;
    infor.type = CMessageUserInfor::kType;
    infor.user = user;
    return infor;
}

std::vector<std::string> Ids(const std::vector<CTalker>& talkers)
{
    std::vector<std::string> ids;
    for (const auto& talker : talkers)
        ids.push_back(talker.userId + "@" + talker.serverName);
    return ids;
}

class Queries : public ::testing::Test {
protected:
    Queries() : alice(fixture.Port()), bob(fixture.Port())
    {
        fixture.AddUser("alice", "a-pw", "Alice Liddell", "bob@hub/nina@far");
        fixture.AddUser("bob", "b-pw", "Bob Lid", "alice@hub");
        fixture.AddUser("x$y", "x-pw", "Hidden Lid");
        fixture.AddUser("lidia", "l-pw", "Carol");
        fixture.AddNeighbor("far", {MakeTalker("nina", "far", "Nina Lid", "n-pw"),
                                    MakeTalker("n$m", "far", "Dollar Nina", "m-pw")});
        EXPECT_EQ(alice.Login("alice", "a-pw"), "success");
        EXPECT_EQ(bob.Login("bob", "b-pw"), "success");
        alice.Sync();
    }

    // Sends a list request from `from` and returns the reply received by
    // `to`; null when none came.
    std::unique_ptr<CMessageUserList> List(TestClient& from, TestClient& to, CMessageUserList request)
    {
        if (!from.Send(request))
            return nullptr;
        return to.ReceiveAs<CMessageUserList>();
    }

    // Lets each connection admit `tokens` costly requests a minute.
    void SetCostlyRequestsPerConnection(int tokens)
    {
        fixture.OnLoop([tokens](CChatServer& service) {
            CServiceLimits limits;
            limits.costlyRequestsPerConnection = tokens;
            service.SetLimits(limits);
            return true;
        });
    }

    // Alice's status change comes after her requests on her connection: once
    // Bob, her friend, hears of it, all of them have been handled. Returns how
    // many list answers Alice then received.
    int ListAnswersAfterAlicesRequests()
    {
        CMessageChangeStatu away;
        away.type = CMessageChangeStatu::kType;
        away.source = "alice@hub";
        away.userId = "alice";
        away.server = "hub";
        away.statu = "away";
        EXPECT_TRUE(alice.Send(away));
        EXPECT_TRUE(bob.ReceiveAs<CMessageChangeStatu>());
        int answers = 0;
        while (alice.ReceiveAs<CMessageUserList>(std::chrono::milliseconds(500)))
            ++answers;
        return answers;
    }

    ServiceFixture fixture;
    TestClient alice;
    TestClient bob;
};

const char* const kPasswords[] = {"a-pw", "b-pw", "x-pw", "l-pw", "n-pw", "m-pw"};

} // namespace

TEST_F(Queries, ListWithoutFilterSkipsTheRequesterAndDollarIdsOfThisServerOnly)
{
    auto reply = List(alice, alice, ListRequest("alice", ""));
    ASSERT_TRUE(reply);
    EXPECT_EQ(Ids(reply->talkers), (std::vector<std::string>{"bob@hub", "lidia@hub", "nina@far", "n$m@far"}));
    EXPECT_EQ(reply->count, "4");
    EXPECT_EQ(ServiceLogLines::Count("用户信息列表,共检索到 4 条记录"), 1);
}

TEST_F(Queries, FilterMatchesNamesNotIds)
{
    auto reply = List(alice, alice, ListRequest("alice", "Lid"));
    ASSERT_TRUE(reply);
    EXPECT_EQ(Ids(reply->talkers), (std::vector<std::string>{"bob@hub", "nina@far"}));
    EXPECT_EQ(ServiceLogLines::Count("查询用户列表信息,按 Lid 过滤!"), 1);
}

TEST_F(Queries, ListReplyGoesToTheNamedUsersConnections)
{
    TestClient stranger(fixture.Port());
    auto reply = List(stranger, bob, ListRequest("bob", ""));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->count, "4");
    auto before = stranger.Sync();
    ASSERT_TRUE(before);
    EXPECT_TRUE(before->empty());

    // Nobody is logged in as "ghost" or as the empty id: no reply anywhere.
    CMessageUserList ghost = ListRequest("ghost", "");
    CMessageUserList empty = ListRequest("", "");
    ASSERT_TRUE(stranger.Send(ghost));
    ASSERT_TRUE(stranger.Send(empty));
    for (TestClient* client : {&stranger, &alice, &bob}) {
        auto got = client->Sync();
        ASSERT_TRUE(got);
        EXPECT_TRUE(got->empty());
    }
}

TEST_F(Queries, OnlineListNamesEachLoggedInConnectionRequesterIncluded)
{
    TestClient alice2(fixture.Port());
    ASSERT_EQ(alice2.Login("alice", "a-pw"), "success");
    ASSERT_TRUE(bob.Sync());
    auto reply = List(bob, bob, ListRequest("bob", "nothing matches", true));
    ASSERT_TRUE(reply);
    EXPECT_EQ(Ids(reply->talkers), (std::vector<std::string>{"alice@hub", "bob@hub", "alice@hub"}));
    EXPECT_EQ(reply->count, "3");
}

TEST_F(Queries, ProfileOfAnotherUserCarriesNoPassword)
{
    CMessageUserInfor request = InforRequest("bob@hub");
    ASSERT_TRUE(alice.Send(request));
    auto reply = alice.ReceiveAs<CMessageUserInfor>();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->user, "bob");
    EXPECT_EQ(reply->name, "Bob Lid");
    EXPECT_EQ(reply->server, "hub");
    EXPECT_EQ(reply->password, "");
    ASSERT_EQ(Ids(reply->talkers), std::vector<std::string>{"alice@hub"});
    EXPECT_EQ(reply->talkers[0].password, "");
    EXPECT_EQ(ServiceLogLines::Count("用户 bob@hub 查询用户信息!"), 1);
}

TEST_F(Queries, OwnProfileCarriesTheOwnPasswordOnly)
{
    CMessageUserInfor request = InforRequest("alice");
    ASSERT_TRUE(alice.Send(request));
    auto reply = alice.ReceiveAs<CMessageUserInfor>();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->password, "a-pw");
    EXPECT_EQ(Ids(reply->talkers), (std::vector<std::string>{"bob@hub", "nina@far"}));
    for (const auto& talker : reply->talkers)
        EXPECT_EQ(talker.password, "");

    // A neighbour's user: the server name is still this server's.
    CMessageUserInfor neighbour = InforRequest("nina@far");
    ASSERT_TRUE(alice.Send(neighbour));
    reply = alice.ReceiveAs<CMessageUserInfor>();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->name, "Nina Lid");
    EXPECT_EQ(reply->server, "hub");
    EXPECT_EQ(reply->password, "");
}

TEST_F(Queries, ProfileOfAnUnknownAddressComesBackUnchanged)
{
    CMessageUserInfor request = InforRequest("ghost@hub");
    request.name = "asked";
    ASSERT_TRUE(bob.Send(request));
    auto reply = bob.ReceiveAs<CMessageUserInfor>();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->user, "ghost@hub");
    EXPECT_EQ(reply->name, "asked");
    EXPECT_EQ(reply->server, "");
    EXPECT_TRUE(reply->talkers.empty());
}

TEST_F(Queries, WithSendAllFriendAProfileListsEveryoneButTheAskedUser)
{
    fixture.sendAllFriend = true;
    CMessageUserInfor request = InforRequest("bob");
    ASSERT_TRUE(alice.Send(request));
    auto reply = alice.ReceiveAs<CMessageUserInfor>();
    ASSERT_TRUE(reply);
    EXPECT_EQ(Ids(reply->talkers),
              (std::vector<std::string>{"alice@hub", "x$y@hub", "lidia@hub", "nina@far", "n$m@far"}));
}

TEST_F(Queries, NoReplyEverCarriesAnotherUsersPassword)
{
    fixture.sendAllFriend = true;
    CMessageUserInfor aboutBob = InforRequest("bob");
    CMessageUserInfor aboutNina = InforRequest("nina");
    CMessageUserList everyone = ListRequest("alice", "");
    CMessageUserList online = ListRequest("alice", "", true);
    for (CMessageBase* message : std::initializer_list<CMessageBase*>{&aboutBob, &aboutNina, &everyone, &online})
        ASSERT_TRUE(alice.Send(*message));
    auto received = alice.Sync();
    ASSERT_TRUE(received);
    ASSERT_EQ(received->size(), 4u);
    for (const auto& payload : *received) {
        for (const char* password : kPasswords)
            EXPECT_EQ(payload.find(password), std::string::npos) << password << " in " << payload;
    }
}

TEST_F(Queries, ListAnswersStopAtTheLimitAndTheirCountTellsHowManyMatched)
{
    fixture.OnLoop([](CChatServer& service) {
        CServiceLimits limits;
        limits.maxListAnswerUsers = 2;
        service.SetLimits(limits);
        return true;
    });
    auto reply = List(alice, alice, ListRequest("alice", ""));
    ASSERT_TRUE(reply);
    EXPECT_EQ(Ids(reply->talkers), (std::vector<std::string>{"bob@hub", "lidia@hub"}));
    EXPECT_EQ(reply->count, "4");
    EXPECT_EQ(ServiceLogLines::Count("用户列表过长,只发送前 2 条记录"), 1);

    // Below the limit an answer is whole, online lists included.
    reply = List(alice, alice, ListRequest("alice", "Lid"));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->talkers.size(), 2u);
    EXPECT_EQ(reply->count, "2");
    reply = List(bob, bob, ListRequest("bob", "", true));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->talkers.size(), 2u);
    EXPECT_EQ(reply->count, "2");
}

TEST_F(Queries, ListAnswersStayFarBelowAConnectionsQueueWhateverTheRecordsHold)
{
    // Users whose friend lists are as long as any the directory might hold:
    // the answer stops at its byte bound long before the user limit.
    const std::string friends(100000, 'f');
    for (int i = 0; i < 60; ++i)
        fixture.AddUser("big" + std::to_string(i), "pw", "Big", friends);
    auto reply = List(alice, alice, ListRequest("alice", "Big"));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->count, "60");
    EXPECT_GT(reply->talkers.size(), 0u);
    EXPECT_LT(reply->talkers.size() * friends.size(), CServiceLimits::kMaxListAnswerBytes);
}

TEST_F(Queries, QueriesBeyondAConnectionsBudgetAreDroppedAndOtherConnectionsAreAnswered)
{
    SetCostlyRequestsPerConnection(5);
    for (int i = 0; i < 8; ++i) {
        CMessageUserList request = ListRequest("alice", "");
        ASSERT_TRUE(alice.Send(request));
    }
    EXPECT_EQ(ListAnswersAfterAlicesRequests(), 5);
    EXPECT_EQ(ServiceLogLines::Count("的请求过于频繁,超过每个连接每分钟 5 次的限制,user-list 请求已丢弃"), 1)
        << "one line a minute per address";
    EXPECT_EQ(ServiceLogLines::Count("消息:user-list source:"), 5) << "no line for each dropped request";
    EXPECT_EQ(fixture.Refused("CostlyRequestsPerConnection"), 3u);
    // Bob, on a connection of his own from the same address, is answered.
    EXPECT_TRUE(List(bob, bob, ListRequest("bob", "")));
}

TEST_F(Queries, AnswersOfManyUsersCostTheirConnectionMoreThanShortOnes)
{
    SetCostlyRequestsPerConnection(6);
    for (int i = 0; i < 250; ++i)
        fixture.AddUser("many" + std::to_string(i), "pw", "Many");
    // Each answer of 250 users costs 3 tokens: two fit a budget of 6.
    for (int i = 0; i < 6; ++i) {
        CMessageUserList request = ListRequest("alice", "Many");
        ASSERT_TRUE(alice.Send(request));
    }
    EXPECT_EQ(ListAnswersAfterAlicesRequests(), 2);
    EXPECT_EQ(fixture.Refused("CostlyRequestsPerConnection"), 4u);

    // Short answers cost one token each: Bob's connection gets all six.
    for (int i = 0; i < 6; ++i)
        EXPECT_TRUE(List(bob, bob, ListRequest("bob", "Lid"))) << i;
}
