#include "CServerFederation.h"
#include "FramePeer.h"
#include "WorkerTestSupport.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

void AddRoute(ServiceFixture& fixture, const std::string& name, const std::string& port)
{
    fixture.OnLoop([&](CChatServer& service) {
        auto route = std::make_unique<CTalkerServer>();
        route->name = name;
        route->ip = "127.0.0.1";
        route->port = port;
        service.routeServers.push_back(std::move(route));
    });
}

std::vector<std::string> NeighborNames(ServiceFixture& fixture)
{
    return fixture.OnLoop([](CChatServer& service) {
        std::vector<std::string> names;
        for (const auto& neighbor : service.neighbors)
            names.push_back(neighbor->name);
        return names;
    });
}

std::vector<std::string> RoutedNames(const CMessageBase& message)
{
    std::vector<std::string> names;
    for (const auto& server : message.routedServers)
        names.push_back(server.name);
    return names;
}

CMessageServerPub Announcement(const std::string& name)
{
    CMessageServerPub pub;
    pub.type = CMessageServerPub::kType;
    pub.server.name = name;
    return pub;
}

// The next chat message a client receives, or null.
std::unique_ptr<CMessageUserTalking> NextChat(TestClient& client)
{
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < deadline) {
        if (auto talk = client.ReceiveAs<CMessageUserTalking>(500ms))
            return talk;
    }
    return nullptr;
}

} // namespace

TEST(Federation, AnnouncementMakesANeighbourWithItsUsersAndSavesIt)
{
    ServiceFixture alpha("alpha");
    ServiceFixture beta("beta");
    alpha.AddUser("carol", "c-pw", "Carol", "dave@beta");
    alpha.AddUser("erin", "e-pw");
    beta.AddNeighbor("alpha", {MakeTalker("gone", "alpha")});
    beta.AddNeighbor("far", {});
    AddRoute(alpha, "beta", std::to_string(beta.Port()) + "tail");

    alpha.OnLoop([](CChatServer& service) { service.AnnounceToRouteServers(); });
    ASSERT_TRUE(WaitUntil([&] { return beta.configSaves.load() == 1; }));
    EXPECT_EQ(NeighborNames(beta), (std::vector<std::string>{"far", "alpha"})) << "replaced, moved to the end";
    auto carol = beta.Find("carol@alpha");
    ASSERT_TRUE(carol);
    EXPECT_EQ(carol->friends, "dave@beta");
    EXPECT_TRUE(beta.Find("erin@alpha"));
    EXPECT_FALSE(beta.Find("gone@alpha"));
    EXPECT_EQ(ServiceLogLines::Count("本服务器上线后通知路由服务器:beta/127.0.0.1/"), 1);
    EXPECT_EQ(ServiceLogLines::Count("好友服务器 alpha / "), 1);
    EXPECT_EQ(ServiceLogLines::Count("c-pw"), 0) << "passwords never reach the log";

    TestClient client(beta.Port());
    for (const char* name : {"x@y", "x/y", "beta"}) {
        auto pub = Announcement(name);
        ASSERT_TRUE(client.Send(pub));
    }
    ASSERT_TRUE(client.Sync());
    EXPECT_EQ(ServiceLogLines::Count("新宣告的服务器[x@y]名包含特殊字符'@'"), 1);
    EXPECT_EQ(ServiceLogLines::Count("新宣告的服务器[x/y]名包含特殊字符'/'"), 1);
    EXPECT_EQ(NeighborNames(beta), (std::vector<std::string>{"far", "alpha"}));
    EXPECT_EQ(beta.configSaves, 1);
}

TEST(Federation, ChatToAnOfflineUserOfAnotherServerArrivesAfterLogin)
{
    ServiceFixture alpha("alpha");
    ServiceFixture beta("beta");
    beta.AddUser("dave", "d-pw");
    AddRoute(alpha, "beta", std::to_string(beta.Port()));
    WorkerRun alphaWorker(alpha);
    WorkerRun betaWorker(beta);

    TestClient carol(alpha.Port());
    auto talk = MakeTalk("carol@alpha", "dave@beta", "across");
    ASSERT_TRUE(carol.Send(talk));
    ASSERT_TRUE(WaitUntil([&] { return betaWorker.HasPendingFor("dave", "beta"); }));
    EXPECT_TRUE(ServiceLogLines::WaitFor("已发送路由消息,时间:2026-12-07 21:30:00 source:carol@alpha target:dave@beta "));
    EXPECT_FALSE(alphaWorker.HasPendingRoute("alpha"));

    TestClient dave(beta.Port());
    ASSERT_EQ(dave.Login("dave", "d-pw"), "success");
    auto received = NextChat(dave);
    ASSERT_TRUE(received);
    EXPECT_EQ(received->text, "across");
    EXPECT_EQ(received->source, "carol@alpha");
    EXPECT_EQ(RoutedNames(*received), std::vector<std::string>{"alpha"});
}

TEST(Federation, UnreachableRouteServerKeepsTheMessageUntilItIsUp)
{
    const unsigned betaPort = FramePeer::FreePort();
    ServiceFixture alpha("alpha");
    AddRoute(alpha, "beta", std::to_string(betaPort));
    WorkerRun alphaWorker(alpha);

    TestClient carol(alpha.Port());
    auto talk = MakeTalk("carol@alpha", "dave@beta", "later");
    ASSERT_TRUE(carol.Send(talk));
    const std::string failed = "连接服务器127.0.0.1[" + std::to_string(betaPort) + "]失败";
    ASSERT_TRUE(WaitUntil([&] { return ServiceLogLines::Count(failed) >= 2; })) << "tried again each cycle";
    EXPECT_TRUE(alphaWorker.HasPendingRoute("alpha"));

    ServiceFixture beta("beta", betaPort);
    beta.AddUser("dave", "d-pw");
    WorkerRun betaWorker(beta);
    TestClient dave(beta.Port());
    ASSERT_EQ(dave.Login("dave", "d-pw"), "success");
    auto received = NextChat(dave);
    ASSERT_TRUE(received);
    EXPECT_EQ(received->text, "later");
    EXPECT_TRUE(WaitUntil([&] { return !alphaWorker.HasPendingRoute("alpha"); }));
}

TEST(Federation, AMessageIsNotSentBackToAServerItPassed)
{
    FramePeer alphaPeer;
    FramePeer gammaPeer;
    ServiceFixture beta("beta");
    AddRoute(beta, "alpha", std::to_string(alphaPeer.Port()));
    AddRoute(beta, "gamma", std::to_string(gammaPeer.Port()));
    WorkerRun betaWorker(beta);

    // As alpha forwards it: alpha is already in its routed list.
    auto talk = MakeTalk("carol@alpha", "zed@gamma", "onwards");
    CTalkerServer alpha;
    alpha.name = "alpha";
    talk.AddRoutedServer(alpha);
    TestClient from(beta.Port());
    ASSERT_TRUE(from.Send(talk));

    ASSERT_TRUE(WaitUntil([&] { return gammaPeer.Payloads().size() == 1; }));
    auto forwarded = Parse(gammaPeer.Payloads().front());
    ASSERT_TRUE(forwarded);
    EXPECT_EQ(RoutedNames(*forwarded), (std::vector<std::string>{"alpha", "beta"}));
    EXPECT_TRUE(WaitUntil([&] { return !betaWorker.HasPendingRoute("beta"); }));
    std::this_thread::sleep_for(1200ms);
    EXPECT_TRUE(alphaPeer.Payloads().empty());
    EXPECT_EQ(gammaPeer.Payloads().size(), 1u);
}

TEST(Federation, RouteServersListingEachOtherDoNotLoopAMessage)
{
    ServiceFixture alpha("alpha");
    ServiceFixture beta("beta");
    AddRoute(alpha, "beta", std::to_string(beta.Port()));
    AddRoute(beta, "alpha", std::to_string(alpha.Port()));
    WorkerRun alphaWorker(alpha);
    WorkerRun betaWorker(beta);

    TestClient carol(alpha.Port());
    auto talk = MakeTalk("carol@alpha", "zed@nowhere", "nobody knows nowhere");
    ASSERT_TRUE(carol.Send(talk));
    // alpha forwards it to beta; beta's one route server was passed, so
    // beta finishes it without sending.
    ASSERT_TRUE(WaitUntil([&] { return ServiceLogLines::Count("已发送路由消息") == 2; }));
    std::this_thread::sleep_for(2500ms);
    EXPECT_EQ(ServiceLogLines::Count("路由到路由服务器"), 1);
    EXPECT_EQ(ServiceLogLines::Count("已发送路由消息"), 2);
    EXPECT_FALSE(alphaWorker.HasPendingRoute("alpha"));
    EXPECT_FALSE(betaWorker.HasPendingRoute("beta"));
}

TEST(Federation, RoutingRules)
{
    EXPECT_EQ(CServerFederation::PortNumber("8802"), 8802);
    EXPECT_EQ(CServerFederation::PortNumber("88x02"), 88);
    EXPECT_EQ(CServerFederation::PortNumber("x8802"), 0);
    EXPECT_EQ(CServerFederation::PortNumber(""), 0);
    EXPECT_EQ(CServerFederation::PortNumber("99999999999"), 0);

    CLog4c log;
    CServiceSnapshot routes;
    routes.localName = "alpha";
    CTalkerServer beta;
    beta.name = "beta";
    beta.ip = "127.0.0.1";
    beta.port = "no port";
    routes.routeServers.push_back(beta);

    CMessageChangeStatu statu;
    statu.type = CMessageChangeStatu::kType;
    statu.target = "dave@beta";
    EXPECT_FALSE(CServerFederation::RouteMessage(log, routes, statu)) << "a status change is never routed";
    EXPECT_FALSE(CServerFederation::IsRoutable(MakeTalk("a@alpha", "b@alpha", ""), "alpha"));
    EXPECT_TRUE(CServerFederation::IsRoutable(MakeTalk("a@alpha", "b", ""), "alpha"));

    auto untargeted = MakeTalk("a@alpha", "", "");
    EXPECT_TRUE(CServerFederation::RouteMessage(log, routes, untargeted)) << "nothing to do: finished";
    auto passed = MakeTalk("a@alpha", "d@gamma", "");
    passed.AddRoutedServer(beta);
    EXPECT_TRUE(CServerFederation::RouteMessage(log, routes, passed)) << "its one route server had it";
    auto unreachable = MakeTalk("a@alpha", "d@gamma", "");
    EXPECT_FALSE(CServerFederation::RouteMessage(log, routes, unreachable)) << "port text without digits: port 0";
}
