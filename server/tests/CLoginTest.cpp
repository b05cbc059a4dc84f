#include "ServiceTestSupport.h"
#include "WorkerTestSupport.h"

#include "marlune/Marlune.h"

#include <gtest/gtest.h>

#include <algorithm>

using marlune::CMessageChangeStatu;
using marlune::CMessageUserLogin;
using quorvel::service::CChatServer;
using quorvel::service::CServiceLimits;
using quorvel::testsupport::WaitUntil;

namespace {

const std::string kBadChars = "用户账号不能包含 ' ~ ! # $ % ^ & *'等特殊字符!";

std::vector<std::string> LoggedIn(ServiceFixture& fixture)
{
    return fixture.OnLoop([](CChatServer& service) {
        std::vector<std::string> ids;
        for (const auto& user : service.TakeSnapshot().loggedIn)
            ids.push_back(user.userId);
        std::sort(ids.begin(), ids.end());
        return ids;
    });
}

class Login : public ::testing::Test {
protected:
    Login()
    {
        fixture.AddUser("alice", "a-pw", "Alice", "bob@hub");
        fixture.AddUser("bob", "b-pw", "Bob", "alice@hub");
        fixture.AddUser("a$b", "d-pw");
    }
    ServiceFixture fixture;
};

} // namespace

TEST_F(Login, DollarPassesTheCharacterCheckAndAtFailsWithTheListedText)
{
    TestClient client(fixture.Port());
    EXPECT_EQ(client.Login("a$b", "d-pw"), "success");

    CMessageUserLogin login;
    login.type = CMessageUserLogin::kType;
    login.userId = "a@b";
    login.password = "d-pw";
    ASSERT_TRUE(client.Send(login));
    auto reply = client.ReceiveAs<CMessageUserLogin>();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->result, "failed");
    EXPECT_EQ(reply->error, kBadChars);
    EXPECT_EQ(LoggedIn(fixture), std::vector<std::string>{"a$b"});
}

TEST_F(Login, SuccessStoresTheStatusBindsAndTellsFriends)
{
    TestClient bob(fixture.Port());
    ASSERT_EQ(bob.Login("bob", "b-pw"), "success");
    TestClient alice(fixture.Port());
    ASSERT_EQ(alice.Login("alice", "a-pw", false, "busy"), "success");

    auto change = bob.ReceiveAs<CMessageChangeStatu>();
    ASSERT_TRUE(change);
    EXPECT_EQ(change->userId, "alice");
    EXPECT_EQ(change->server, "hub");
    EXPECT_EQ(change->statu, "busy");
    EXPECT_EQ(fixture.Find("alice")->statu, "busy");
    EXPECT_EQ(fixture.configSaves, 0);
}

TEST_F(Login, PasswordsNeverAppearInTheLog)
{
    TestClient client(fixture.Port());
    ASSERT_EQ(client.Login("alice", "a-pw"), "success");
    ASSERT_EQ(client.Login("alice", "wrong-pw"), "failed");
    EXPECT_EQ(ServiceLogLines::Count("用户 alice 以密码 ****** 登录成功!"), 1);
    EXPECT_EQ(ServiceLogLines::Count("用户 alice 以密码 ****** 登录失败，用户名或者密码错误!"), 1);
    EXPECT_EQ(ServiceLogLines::Count("a-pw"), 0);
    EXPECT_EQ(ServiceLogLines::Count("wrong-pw"), 0);
}

TEST_F(Login, WrongPasswordLeavesTheEarlierBinding)
{
    TestClient client(fixture.Port());
    ASSERT_EQ(client.Login("alice", "a-pw"), "success");
    EXPECT_EQ(client.Login("bob", "a-pw"), "failed");
    EXPECT_EQ(client.Login("nobody", "x"), "failed");
    EXPECT_EQ(LoggedIn(fixture), std::vector<std::string>{"alice"});
    // A neighbour's user cannot log in here.
    fixture.AddNeighbor("far", {MakeTalker("nina", "far", "", "n-pw")});
    EXPECT_EQ(client.Login("nina", "n-pw"), "failed");
}

TEST_F(Login, ForcedLoginCreatesTheUserSavesAndAlwaysSaysSuccess)
{
    TestClient fresh(fixture.Port());
    EXPECT_EQ(fresh.Login("newbie", "n-pw", true), "success");
    auto created = fixture.Find("newbie");
    ASSERT_TRUE(created);
    EXPECT_EQ(created->name, "newbie");
    EXPECT_EQ(created->serverName, "hub");
    EXPECT_EQ(created->password, "n-pw");
    EXPECT_EQ(fixture.configSaves, 1);
    EXPECT_EQ(LoggedIn(fixture), std::vector<std::string>{"newbie"});

    TestClient bob(fixture.Port());
    ASSERT_EQ(bob.Login("bob", "b-pw"), "success");
    TestClient again(fixture.Port());
    EXPECT_EQ(again.Login("alice", "other-pw", true, "away"), "success");
    EXPECT_EQ(fixture.Find("alice")->password, "other-pw");
    EXPECT_EQ(fixture.configSaves, 2);
    // No status change goes to friends on a forced login.
    auto before = bob.Sync();
    ASSERT_TRUE(before);
    EXPECT_TRUE(before->empty());
}

TEST_F(Login, ClosingOneOfTwoConnectionsTellsFriendsFalse)
{
    TestClient bob(fixture.Port());
    ASSERT_EQ(bob.Login("bob", "b-pw"), "success");
    auto alice1 = std::make_unique<TestClient>(fixture.Port());
    TestClient alice2(fixture.Port());
    ASSERT_EQ(alice1->Login("alice", "a-pw"), "success");
    ASSERT_EQ(alice2.Login("alice", "a-pw"), "success");
    ASSERT_TRUE(bob.Sync());

    alice1.reset();
    auto change = bob.ReceiveAs<CMessageChangeStatu>();
    ASSERT_TRUE(change);
    EXPECT_EQ(change->userId, "alice");
    EXPECT_EQ(change->statu, "false");
    EXPECT_EQ(fixture.Find("alice")->statu, "false");
    EXPECT_EQ(LoggedIn(fixture), (std::vector<std::string>{"alice", "bob"}));
}

TEST_F(Login, ClosingAConnectionThatNeverLoggedInSendsNothing)
{
    TestClient bob(fixture.Port());
    ASSERT_EQ(bob.Login("bob", "b-pw"), "success");
    {
        TestClient stranger(fixture.Port());
        ASSERT_TRUE(stranger.Sync());
    }
    ASSERT_TRUE(ServiceLogLines::WaitFor("[][]断开了连接"));
    auto before = bob.Sync();
    ASSERT_TRUE(before);
    EXPECT_TRUE(before->empty());
}

TEST_F(Login, AnIdTooLongForTheStoreOrANameTooLongForTheConnectionIsRefused)
{
    const std::string longestId(39, 'i');
    const std::string tooLongId(40, 'i');
    fixture.AddUser(longestId, "pw", std::string(99, 'n'));
    fixture.AddUser(tooLongId, "pw");
    fixture.AddUser("longname", "pw", std::string(100, 'n'));

    TestClient client(fixture.Port());
    EXPECT_EQ(client.Login(tooLongId, "pw"), "failed");
    EXPECT_EQ(client.Login("longname", "pw"), "failed");
    EXPECT_EQ(client.Login(tooLongId + "x", "pw", true), "failed");
    EXPECT_FALSE(fixture.Find(tooLongId + "x"));
    EXPECT_TRUE(LoggedIn(fixture).empty());

    EXPECT_EQ(client.Login(longestId, "pw"), "success");
    EXPECT_EQ(LoggedIn(fixture), std::vector<std::string>{longestId});
}

TEST_F(Login, ForcedLoginRefusesTheEmptyIdAndTheFriendListSeparator)
{
    TestClient client(fixture.Port());
    const std::pair<std::string, std::string> expected[] = {
        {"", "用户账号不能为空!"}, {"x/y", kBadChars}, {std::string(40, 'i'), "用户账号或姓名太长!"}};
    for (const auto& [userId, error] : expected) {
        CMessageUserLogin login;
        login.type = CMessageUserLogin::kType;
        login.userId = userId;
        login.password = "pw";
        login.force = "true";
        ASSERT_TRUE(client.Send(login));
        auto reply = client.ReceiveAs<CMessageUserLogin>();
        ASSERT_TRUE(reply) << userId;
        EXPECT_EQ(reply->result, "failed") << userId;
        EXPECT_EQ(reply->error, error) << userId;
        EXPECT_FALSE(fixture.Find(userId)) << userId;
    }
    EXPECT_TRUE(LoggedIn(fixture).empty());
    EXPECT_EQ(fixture.configSaves, 0);
}

TEST_F(Login, AUserHasAtMostItsShareOfConnections)
{
    fixture.OnLoop([](CChatServer& service) {
        CServiceLimits limits = service.Limits();
        limits.maxConnectionsPerUser = 2;
        service.SetLimits(limits);
    });
    TestClient first(fixture.Port());
    TestClient second(fixture.Port());
    ASSERT_EQ(first.Login("alice", "a-pw"), "success");
    ASSERT_EQ(second.Login("alice", "a-pw"), "success");
    // Logging in again on a connection the user already holds is no new one.
    ASSERT_EQ(second.Login("alice", "a-pw"), "success");

    TestClient third(fixture.Port());
    CMessageUserLogin login;
    login.type = CMessageUserLogin::kType;
    login.userId = "alice";
    login.password = "a-pw";
    ASSERT_TRUE(third.Send(login));
    auto reply = third.ReceiveAs<CMessageUserLogin>();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->result, "failed");
    EXPECT_EQ(reply->error, "该用户连接数已达上限!");
    EXPECT_EQ(third.Login("alice", "a-pw", true), "failed");
    EXPECT_EQ(ServiceLogLines::Count("用户 alice 的连接数已达上限 2，登录被拒绝"), 1);

    // Other users are not concerned, and a closed connection makes room.
    EXPECT_EQ(third.Login("bob", "b-pw"), "success");
    first.Close();
    EXPECT_TRUE(WaitUntil([&] {
        const auto ids = LoggedIn(fixture);
        return std::count(ids.begin(), ids.end(), "alice") == 1;
    }));
    TestClient fourth(fixture.Port());
    EXPECT_EQ(fourth.Login("alice", "a-pw"), "success");
}

TEST_F(Login, BindingsFollowLoginsOnAnotherAccountAndCloses)
{
    const auto bound = [&](const std::string& userId) {
        return fixture.OnLoop([userId](CChatServer& service) { return service.ConnectionsOf(userId).size(); });
    };
    auto shared = std::make_unique<TestClient>(fixture.Port());
    TestClient bob(fixture.Port());
    ASSERT_EQ(shared->Login("alice", "a-pw"), "success");
    ASSERT_EQ(bob.Login("bob", "b-pw"), "success");
    EXPECT_EQ(bound("alice"), 1u);

    // The same connection logs in as bob: alice's deliveries no longer reach it.
    ASSERT_EQ(shared->Login("bob", "b-pw"), "success");
    EXPECT_EQ(bound("alice"), 0u);
    EXPECT_EQ(bound("bob"), 2u);
    EXPECT_EQ(fixture.OnLoop([](CChatServer& service) { return service.SendToUser("alice", "x", 1); }), 0);
    EXPECT_EQ(fixture.OnLoop([](CChatServer& service) { return service.SendToUser("bob", "x", 1); }), 1);
    ASSERT_EQ(shared->ReceiveFrame(), "x");
    ASSERT_EQ(bob.ReceiveFrame(), "x");

    // A refused login, and a forced one as bob again, change nothing.
    EXPECT_EQ(shared->Login("alice", "wrong"), "failed");
    EXPECT_EQ(shared->Login("bob", "b-pw", true), "success");
    EXPECT_EQ(bound("bob"), 2u);

    shared.reset();
    ASSERT_TRUE(ServiceLogLines::WaitFor("[bob][Bob]断开了连接"));
    EXPECT_EQ(bound("bob"), 1u);
    EXPECT_EQ(fixture.OnLoop([](CChatServer& service) { return service.BoundUsers().UserCount(); }), 1u);
}
