#include "ConsoleTestSupport.h"

#include "quorvel_service/CChatServer.h"
#include "ServiceTestSupport.h"
#include "WorkerTestSupport.h"
#include "marlune/CMessageUserTalking.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

using marlune::CMessageUserTalking;
using quorvel::host::CMsgServiceHost;
using quorvel::service::CChatServer;
using quorvel::testsupport::FreePort;
using quorvel::testsupport::ListeningSocket;
using quorvel::testsupport::TempFolder;
using quorvel::testsupport::WaitUntil;

namespace {

using namespace std::chrono_literals;

const std::string kStarted = "消息服务已经开启成功!";

using StartTicks = ConsoleTest;

TEST_F(StartTicks, InitialisationLogsBothLinesAndEnablesOnlyStart)
{
    EXPECT_EQ(view_.Find("INFOR 系统启动成功!"), 0);
    EXPECT_EQ(view_.Find("INFOR 将在10秒后自动开启消息服务..."), 1);
    ASSERT_EQ(view_.buttons.size(), 1u);
    EXPECT_EQ(view_.buttons[0], std::make_pair(true, false));
}

TEST_F(StartTicks, FirstAutomaticStartOnTheTwelfthTick)
{
    const unsigned port = FreePort();
    WriteDirectory("hub", std::to_string(port));
    Ticks(11);
    EXPECT_FALSE(Running());
    Ticks(1);
    ASSERT_TRUE(Running());
    EXPECT_EQ(ListeningPort(), port);
    EXPECT_EQ(view_.Count(kStarted), 1);
    EXPECT_EQ(view_.buttons.back(), std::make_pair(false, true));
    ASSERT_EQ(view_.captions.size(), 1u);
    EXPECT_EQ(view_.captions[0], "聊天服务器[名称:hub IP:127.0.0.1 端口:" + std::to_string(port) + " 描述:test]");
}

TEST_F(StartTicks, AfterAStopTheServiceComesBackWithinTwelveTicks)
{
    WriteDirectory("hub", std::to_string(FreePort()));
    Ticks(12);
    ASSERT_TRUE(Running());
    OnLoop([this] { console_->StopMsgService(); });
    EXPECT_FALSE(Running());
    EXPECT_EQ(view_.buttons.back(), std::make_pair(true, false));
    Ticks(11);
    EXPECT_FALSE(Running());
    Ticks(1);
    EXPECT_TRUE(Running());

    // A start from the button leaves the counter part-way: the restart after
    // the next stop comes sooner.
    OnLoop([this] { console_->StopMsgService(); });
    Ticks(5);
    OnLoop([this] { console_->StartMsgService(); });
    OnLoop([this] { console_->StopMsgService(); });
    Ticks(6);
    EXPECT_FALSE(Running());
    Ticks(1);
    EXPECT_TRUE(Running());
}

TEST_F(StartTicks, AnnouncementEvery62TicksOnlyWhileAServiceExists)
{
    ListeningSocket route;
    ASSERT_NE(route.Port(), 0u);
    WriteDirectory("hub", std::to_string(FreePort()), {route.Port()});
    const std::string announced = "本服务器上线后通知路由服务器:route" + std::to_string(route.Port());
    // An announcement goes out without holding up the ticks: its line comes
    // once the route server took the connection.
    Ticks(12);   // the start announces once
    ASSERT_TRUE(Running());
    EXPECT_TRUE(WaitUntil([&] { return view_.Count(announced) == 1; }));
    Ticks(49);   // tick 61
    EXPECT_EQ(view_.Count(announced), 1);
    Ticks(1);    // tick 62
    EXPECT_TRUE(WaitUntil([&] { return view_.Count(announced) == 2; }));
    EXPECT_EQ(console_->AnnounceCounter(), 0);
    Ticks(62);
    EXPECT_TRUE(WaitUntil([&] { return view_.Count(announced) == 3; }));
}

TEST_F(StartTicks, WithoutAServiceTheAnnouncementCounterRunsAndNothingIsAnnounced)
{
    ListeningSocket route;
    WriteDirectory("a/b", std::to_string(FreePort()), {route.Port()});
    Ticks(61);
    EXPECT_EQ(console_->AnnounceCounter(), 61);
    Ticks(1);
    EXPECT_EQ(console_->AnnounceCounter(), 0);
    EXPECT_FALSE(Running());
    EXPECT_EQ(view_.Count("本服务器上线后通知路由服务器"), 0);
}

TEST_F(StartTicks, StartWhileRunningChangesNothing)
{
    WriteDirectory("hub", std::to_string(FreePort()));
    OnLoop([this] { console_->StartMsgService(); });
    CChatServer* first = nullptr;
    OnLoop([&] { first = console_->Host().Service(); });
    const auto buttons = view_.buttons.size();
    const auto lines = view_.Lines().size();
    OnLoop([this] { console_->StartMsgService(); });
    CChatServer* second = nullptr;
    OnLoop([&] { second = console_->Host().Service(); });
    EXPECT_EQ(first, second);
    EXPECT_EQ(view_.buttons.size(), buttons);
    EXPECT_EQ(view_.Lines().size(), lines);
    EXPECT_EQ(view_.Count(kStarted), 1);
}

TEST_F(StartTicks, ANameWithASlashIsRefusedAtEveryAutomaticAttempt)
{
    WriteDirectory("a/b", std::to_string(FreePort()));
    const std::string refused = "服务器名[a/b]包含特殊字符'/',不允许启动服务器";
    Ticks(12);
    EXPECT_FALSE(Running());
    EXPECT_EQ(view_.Count(refused), 1);
    Ticks(12);
    EXPECT_FALSE(Running());
    EXPECT_EQ(view_.Count(refused), 2);
    EXPECT_EQ(view_.Count(kStarted), 0);
    EXPECT_EQ(view_.buttons.size(), 1u);
    EXPECT_TRUE(view_.captions.empty());
}

TEST_F(StartTicks, AnAtSignIsRefusedBeforeASlash)
{
    WriteDirectory("a@b/c", std::to_string(FreePort()));
    OnLoop([this] { console_->StartMsgService(); });
    EXPECT_FALSE(Running());
    EXPECT_EQ(view_.Count("服务器名[a@b/c]包含特殊字符'@',不允许启动服务器"), 1);
    EXPECT_EQ(view_.Count("包含特殊字符'/'"), 0);
}

TEST_F(StartTicks, ANameTooLongForTheMessageStoreIsRefused)
{
    // 20 bytes: every stored message for this server's users would be lost.
    WriteDirectory("headquarters-beijing", std::to_string(FreePort()));
    OnLoop([this] { console_->StartMsgService(); });
    EXPECT_FALSE(Running());
    EXPECT_EQ(view_.Count("ERROR 服务器名[headquarters-beijing]超过 19 字节,不允许启动服务器"), 1);
    EXPECT_EQ(view_.Count(kStarted), 0);
    EXPECT_TRUE(view_.captions.empty());

    WriteDirectory("headquarters-beijin", std::to_string(FreePort()));
    OnLoop([this] { console_->StartMsgService(); });
    EXPECT_TRUE(Running());
}

TEST_F(StartTicks, APortHeldByAnotherProgramIsRetriedOnTheTimerUntilItIsFree)
{
    auto holder = std::make_unique<ListeningSocket>();
    const unsigned portNumber = holder->Port();
    ASSERT_NE(portNumber, 0u);
    const std::string port = std::to_string(portNumber);
    WriteDirectory("hub", port);
    const std::string caption = "聊天服务器[名称:hub IP:127.0.0.1 端口:" + port + " 描述:test]";
    OnLoop([this] { console_->StartMsgService(); });

    const int socketError = view_.Find("生成监听套接字错误!");
    ASSERT_GE(socketError, 0);
    EXPECT_GT(view_.Find("ERROR 监听端口 " + port + " 失败: " + std::strerror(EADDRINUSE), socketError),
              socketError);
    EXPECT_GT(view_.Find(kStarted, socketError), socketError);
    EXPECT_TRUE(Running());
    EXPECT_EQ(ListeningPort(), 0u);
    EXPECT_EQ(view_.captions, std::vector<std::string>{caption + " (未监听)"});

    // Attempts every few ticks stay quiet; one line a minute tells they go on.
    const std::string retrying = "ERROR 监听端口 " + port + " 仍然失败: ";
    Ticks(CMsgServiceHost::kListenRetryLineTicks - 1);
    EXPECT_EQ(view_.Count(retrying), 0);
    Ticks(CMsgServiceHost::kListenRetryTicks);
    EXPECT_EQ(view_.Count(retrying), 1);
    EXPECT_EQ(view_.Count("生成监听套接字错误!"), 1);
    EXPECT_EQ(ListeningPort(), 0u);

    holder.reset();
    Ticks(CMsgServiceHost::kListenRetryTicks);
    EXPECT_EQ(ListeningPort(), portNumber);
    EXPECT_EQ(view_.Count("成功开始监听(端口号:" + port + ")!"), 1);
    EXPECT_EQ(view_.captions.back(), caption);
    TestClient alice(portNumber);
    EXPECT_EQ(alice.Login("alice", "pw"), "success");

    Ticks(CMsgServiceHost::kListenRetryLineTicks * 2);
    EXPECT_EQ(view_.Count(retrying), 1);
    EXPECT_EQ(view_.Count("成功开始监听"), 1);
}

TEST_F(StartTicks, AMissingDirectoryFileStillStartsAServiceThatDoesNotListen)
{
    OnLoop([this] { console_->StartMsgService(); });
    const int error = view_.Find("配置文件 " + (dir_ / "config/server.xml").string() + " 有错误!");
    ASSERT_GE(error, 0);
    EXPECT_GT(view_.Find(kStarted, error), error);
    EXPECT_TRUE(Running());
    EXPECT_EQ(ListeningPort(), 0u);
    EXPECT_TRUE(view_.captions.empty());
    EXPECT_EQ(view_.buttons.back(), std::make_pair(false, true));

    // Stopping and starting again retries the load.
    const unsigned port = FreePort();
    WriteDirectory("hub", std::to_string(port));
    OnLoop([this] { console_->StopMsgService(); });
    OnLoop([this] { console_->StartMsgService(); });
    EXPECT_EQ(ListeningPort(), port);
}

TEST_F(StartTicks, ARefusedPortLeavesTheServiceRunningWithoutListening)
{
    WriteDirectory("hub", "1999");
    OnLoop([this] { console_->StartMsgService(); });
    EXPECT_TRUE(Running());
    EXPECT_EQ(ListeningPort(), 0u);
    EXPECT_EQ(view_.Count(kStarted), 1);
    EXPECT_EQ(view_.captions.size(), 1u);
}

TEST_F(StartTicks, AStopDuringDeliveriesReturns)
{
    const unsigned port = FreePort();
    WriteDirectory("hub", std::to_string(port));
    OnLoop([this] { console_->StartMsgService(); });
    TestClient alice(port);
    ASSERT_EQ(alice.Login("alice", "pw"), "success");
    for (int i = 0; i < 300; ++i) {
        CMessageUserTalking talking;
        talking.type = CMessageUserTalking::kType;
        talking.source = "alice@hub";
        talking.target = "alice@hub";
        talking.text = "note " + std::to_string(i);
        ASSERT_TRUE(alice.Send(talking));
    }
    // The worker now delivers to the logged-in alice, each delivery waiting
    // for the loop; a stop on the loop must end that wait, not block on it.
    ASSERT_TRUE(alice.ReceiveAs<CMessageUserTalking>(10s));
    OnLoop([this] { console_->StopMsgService(); });
    EXPECT_FALSE(Running());
    EXPECT_EQ(view_.buttons.back(), std::make_pair(true, false));
}

using ConsoleCommands = ConsoleTest;

TEST_F(ConsoleCommands, CancellingOptionsKeepsTheFlagButRewritesTheFile)
{
    OnLoop([this] { console_->OnOptions(); });
    ASSERT_EQ(view_.options, std::vector<bool>{false});
    std::filesystem::remove(dir_ / "config/server.ini");
    OnLoop([this] { console_->OnOptionsClosed(false, true); });
    EXPECT_FALSE(app_.SendAllFriend());
    EXPECT_EQ(TempFolder::Read(dir_ / "config/server.ini"), "[SERVER]\r\nSendAllFriend=0\r\n");

    OnLoop([this] { console_->OnOptionsClosed(true, true); });
    EXPECT_TRUE(app_.SendAllFriend());
    EXPECT_EQ(TempFolder::Read(dir_ / "config/server.ini"), "[SERVER]\r\nSendAllFriend=1\r\n");
}

TEST_F(ConsoleCommands, ExitStopsTheServiceEndsTheProgramAndUnbindsTheLog)
{
    WriteDirectory("hub", std::to_string(FreePort()));
    OnLoop([this] { console_->StartMsgService(); });
    OnLoop([this] { console_->OnExitCommand(1); });
    EXPECT_FALSE(Running());
    EXPECT_EQ(view_.ends, 1);
    EXPECT_EQ(view_.buttons.back(), std::make_pair(true, false));
    const auto lines = view_.Lines().size();
    log_.LogEvent(0, "after exit");
    EXPECT_EQ(view_.Lines().size(), lines);
    // Ticks after the teardown start nothing.
    Ticks(30);
    EXPECT_FALSE(Running());
}

} // namespace
