#include "quorvel_service/CRoutePass.h"
#include "CServerFederation.h"
#include "quorvel_test_support/FramePeer.h"
#include "quorvel_test_support/FreePort.h"
#include "WorkerTestSupport.h"

#include <gtest/gtest.h>

using marlune::CMessageBase;
using marlune::CMessageChangeStatu;
using marlune::CMessageServerPub;
using marlune::CMessageUserTalking;
using marlune::CTalkerServer;
using quorvel::service::CChatServer;
using quorvel::service::CRoutePass;
using quorvel::service::CServerFederation;
using quorvel::service::CServiceLimits;
using quorvel::store::CServiceSnapshot;
using quorvel::testsupport::FramePeer;
using quorvel::testsupport::FreePort;
using quorvel::testsupport::HungPeer;
using quorvel::testsupport::WaitUntil;
using scrivlet::CLog4c;

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
    for (const char* name : {"x@y", "x/y", "beta", "headquarters-beijing"}) {
        auto pub = Announcement(name);
        ASSERT_TRUE(client.Send(pub));
    }
    ASSERT_TRUE(client.Sync());
    EXPECT_EQ(ServiceLogLines::Count("新宣告的服务器[x@y]名包含特殊字符'@'"), 1);
    EXPECT_EQ(ServiceLogLines::Count("新宣告的服务器[x/y]名包含特殊字符'/'"), 1);
    EXPECT_EQ(ServiceLogLines::Count("新宣告的服务器[headquarters-beijing]名超过 19 字节,已忽略"), 1)
        << "a name the store cannot hold";
    EXPECT_EQ(NeighborNames(beta), (std::vector<std::string>{"far", "alpha"}));
    EXPECT_EQ(beta.configSaves, 1);
}

TEST(Federation, NeighboursAndTheirUsersAreBoundedAndKnownNeighboursStillRefresh)
{
    ServiceFixture hub("hub");
    hub.OnLoop([](CChatServer& service) {
        CServiceLimits limits;
        limits.maxNeighbors = 2;
        limits.maxAnnouncedUsers = 3;
        service.SetLimits(limits);
        return true;
    });
    auto announce = [&](const std::string& name, int users) {
        hub.OnLoop([&](CChatServer& service) {
            CMessageServerPub pub = Announcement(name);
            for (int i = 0; i < users; ++i)
                pub.server.AddTalker(MakeTalker(name + "-u" + std::to_string(i), name));
            service.HandleMsg(&pub, nullptr);
            return true;
        });
    };
    announce("alpha", 2);
    announce("beta", 5);
    EXPECT_TRUE(hub.Find("beta-u2@beta"));
    EXPECT_FALSE(hub.Find("beta-u3@beta")) << "only the first three users are kept";
    announce("gamma", 1);
    announce("delta", 1);
    EXPECT_EQ(NeighborNames(hub), (std::vector<std::string>{"alpha", "beta"})) << "new names refused when full";
    EXPECT_EQ(ServiceLogLines::Count("好友服务器已达上限 2 个,新宣告的服务器[gamma]已忽略"), 1);
    EXPECT_EQ(ServiceLogLines::Count("[delta]已忽略"), 0) << "one line a minute";
    EXPECT_EQ(ServiceLogLines::Count("服务器[beta]宣告了 5 个用户,超过上限 3 个,只保留前 3 个"), 1);
    // A well-behaved neighbour that is known already still refreshes its
    // users while the list is full.
    announce("alpha", 3);
    EXPECT_EQ(NeighborNames(hub), (std::vector<std::string>{"beta", "alpha"}));
    EXPECT_TRUE(hub.Find("alpha-u2@alpha"));
    EXPECT_EQ(hub.configSaves, 3);
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
    const unsigned betaPort = FreePort();
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
    // The routing thread counts no passes: a stretch of them (one a second)
    // in which nothing goes back to alpha is what this checks.
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
    // The routing threads count no passes: a stretch of them (one a second)
    // in which neither sends the message again is what this checks.
    std::this_thread::sleep_for(2500ms);
    EXPECT_EQ(ServiceLogLines::Count("路由到路由服务器"), 1);
    EXPECT_EQ(ServiceLogLines::Count("已发送路由消息"), 2);
    EXPECT_FALSE(alphaWorker.HasPendingRoute("alpha"));
    EXPECT_FALSE(betaWorker.HasPendingRoute("beta"));
}

TEST(Federation, RoutingRules)
{
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
    EXPECT_FALSE(CRoutePass(log, routes).RouteMessage(statu)) << "a status change is never routed";
    EXPECT_EQ(CServerFederation::Settled(MakeTalk("a@alpha", "b@alpha", ""), "alpha"), false) << "for this server";
    EXPECT_EQ(CServerFederation::Settled(MakeTalk("a@alpha", "b", ""), "alpha"), std::nullopt)
        << "no server part: another server";
    EXPECT_EQ(CServerFederation::Settled(MakeTalk("a@alpha", "", ""), "alpha"), true) << "no target: finished";
    EXPECT_EQ(CServerFederation::Settled(statu, "alpha"), false);

    auto untargeted = MakeTalk("a@alpha", "", "");
    EXPECT_TRUE(CRoutePass(log, routes).RouteMessage(untargeted)) << "nothing to do: finished";
    auto passed = MakeTalk("a@alpha", "d@gamma", "");
    passed.AddRoutedServer(beta);
    EXPECT_TRUE(CRoutePass(log, routes).RouteMessage(passed)) << "its one route server had it";
    auto unreachable = MakeTalk("a@alpha", "d@gamma", "");
    EXPECT_FALSE(CRoutePass(log, routes).RouteMessage(unreachable)) << "port text without digits: port 0";
}

namespace {

const char* const kSendFailed = "发送数据失败";

// The connect-failure line of the route server on port.
std::string ConnectFailed(unsigned port)
{
    return "连接服务器127.0.0.1[" + std::to_string(port) + "]失败";
}

} // namespace

TEST(Federation, AnnouncementStuckAtARouteServerHoldsUpNoLogin)
{
    HungPeer stuck(HungPeer::Mode::kNeverReads);
    HungPeer silent(HungPeer::Mode::kNeverAccepts);
    ServiceFixture alpha("alpha");
    alpha.AddUser("bob", "b-pw");
    // An announcement larger than the buffers of both ends stalls half-way.
    alpha.OnLoop([](CChatServer& service) {
        for (int i = 0; i < 30000; ++i)
            service.localServer.AddTalker(MakeTalker("user" + std::to_string(i), "alpha", std::string(200, 'n')));
    });
    AddRoute(alpha, "stuck", std::to_string(stuck.Port()));
    AddRoute(alpha, "silent", std::to_string(silent.Port()));

    alpha.OnLoop([](CChatServer& service) { service.AnnounceToRouteServers(); });
    ASSERT_TRUE(ServiceLogLines::WaitFor("本服务器上线后通知路由服务器:stuck/"));
    TestClient bob(alpha.Port());
    EXPECT_EQ(bob.Login("bob", "b-pw"), "success");
    EXPECT_EQ(ServiceLogLines::Count(kSendFailed), 0) << "answered while the announcement was stuck";
    EXPECT_EQ(ServiceLogLines::Count(ConnectFailed(silent.Port())), 0) << "and while the other was unanswered";

    alpha.OnLoop([](CChatServer& service) { service.AnnounceToRouteServers(); });
    EXPECT_EQ(ServiceLogLines::Count("上次通知路由服务器:stuck/"), 1) << "one announcement at a time";
    EXPECT_EQ(ServiceLogLines::Count("上次通知路由服务器:silent/"), 1);
    // Destroying the service (as a stop does) cuts both short.
    alpha.DestroyAfter([](CChatServer&) {});
    EXPECT_EQ(ServiceLogLines::Count(kSendFailed), 0);
}

TEST(Federation, RoutingStuckAtARouteServerHoldsUpNoLocalChatAndAStopCutsItShort)
{
    HungPeer stuck(HungPeer::Mode::kNeverReads);
    ServiceFixture alpha("alpha");
    alpha.AddUser("bob", "b-pw");
    AddRoute(alpha, "stuck", std::to_string(stuck.Port()));
    WorkerRun worker(alpha);

    TestClient carol(alpha.Port());
    auto large = MakeTalk("carol@alpha", "dave@stuck", std::string(8 * 1024 * 1024, 'x'));
    ASSERT_TRUE(carol.Send(large));
    ASSERT_TRUE(ServiceLogLines::WaitFor("路由到路由服务器:stuck[127.0.0.1]", std::chrono::seconds(60)));

    TestClient bob(alpha.Port());
    ASSERT_EQ(bob.Login("bob", "b-pw"), "success");
    auto local = MakeTalk("carol@alpha", "bob@alpha", "meanwhile at home");
    ASSERT_TRUE(carol.Send(local));
    auto received = NextChat(bob);
    ASSERT_TRUE(received);
    EXPECT_EQ(received->text, "meanwhile at home");
    EXPECT_EQ(ServiceLogLines::Count(kSendFailed), 0) << "delivered while the routed message was stuck";

    worker.Stop();
    EXPECT_EQ(ServiceLogLines::Count(kSendFailed), 0) << "the stop did not wait for the send's own limit";
    EXPECT_EQ(ServiceLogLines::Count("已发送路由消息"), 0);
    EXPECT_TRUE(worker.HasPendingRoute("alpha")) << "kept for a later pass";
}

TEST(Federation, FailedRoutesKeepTheirOrderAndHoldUpNoLocalDelivery)
{
    const unsigned betaPort = FreePort();   // refuses connections until beta listens
    ServiceFixture alpha("alpha");
    alpha.AddUser("bob", "b-pw");
    AddRoute(alpha, "beta", std::to_string(betaPort));
    WorkerRun worker(alpha);

    TestClient carol(alpha.Port());
    const std::vector<std::string> targets{"dave@beta", "erin@beta", "fred@beta"};
    for (const auto& target : targets) {
        auto talk = MakeTalk("carol@alpha", target, "to " + target);
        ASSERT_TRUE(carol.Send(talk));
    }
    auto home = MakeTalk("carol@alpha", "bob@alpha", "to bob");
    ASSERT_TRUE(carol.Send(home));
    ASSERT_TRUE(WaitUntil([&] { return ServiceLogLines::Count(ConnectFailed(betaPort)) >= 2; }));
    EXPECT_EQ(ServiceLogLines::Count("准备路由消息,object:user-talking target:erin@beta"), 0)
        << "the later route records wait behind the first";

    TestClient bob(alpha.Port());
    ASSERT_EQ(bob.Login("bob", "b-pw"), "success");
    auto received = NextChat(bob);
    ASSERT_TRUE(received);
    EXPECT_EQ(received->text, "to bob");
    EXPECT_TRUE(worker.HasPendingRoute("alpha"));

    FramePeer beta(betaPort);
    ASSERT_TRUE(WaitUntil([&] { return beta.Payloads().size() == targets.size(); }));
    std::vector<std::string> arrived;
    for (const auto& payload : beta.Payloads())
        arrived.push_back(Parse(payload)->target);
    EXPECT_EQ(arrived, targets);
}

TEST(Federation, AnAnnouncingPeerCountsAsLoggedIn)
{
    ServiceFixture hub;
    hub.OnLoop([](CChatServer& service) {
        CServiceLimits limits = service.Limits();
        limits.connections.loginTimeout = std::chrono::seconds(1);
        service.SetLimits(limits);
    });
    TestClient peer(hub.Port());
    auto pub = Announcement("gamma");
    ASSERT_TRUE(peer.Send(pub));
    ASSERT_TRUE(peer.Sync());
    TestClient silent(hub.Port());
    ASSERT_TRUE(silent.Sync());

    EXPECT_TRUE(WaitUntil([] { return ServiceLogLines::Count("在 1 秒内未登录，已关闭") == 1; }));
    // The peer, accepted earlier, is still served.
    EXPECT_TRUE(peer.Sync());
    EXPECT_FALSE(silent.Sync());
}
