// quorveld as an operator runs it: commands on standard input, log lines on
// standard output through a pipe, a client logging in over the socket, and
// the exit by command or by signal writing the settings and the day's log.

#include "ConsoleTestSupport.h"
#include "quorvel_test_support/QuorveldProcess.h"
#include "quorvel_test_support/ServerConfig.h"
#include "ServiceTestSupport.h"

#include "quorvel_shell/CTerminalText.h"
#include "marlune/CMessageUserTalking.h"

#include <gtest/gtest.h>

using marlune::CMessageUserTalking;
using quorvel::shell::CTerminalText;
using quorvel::testsupport::FreePort;
using quorvel::testsupport::QuorveldProcess;
using quorvel::testsupport::ServerConfig;
using quorvel::testsupport::TempFolder;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// A program folder with config/server.xml for "hub" on a free port, and a
// running copy of quorveld in it whose service has been started and listens.
class QuorveldConsole : public ::testing::Test {
protected:
    void SetUp() override
    {
        port_ = FreePort();
        ASSERT_TRUE(ServerConfig("hub", port_)
                        .AddUser("alice", "secret", {}, "Alice")
                        .AddUser("bob", "secret", {}, "Bob")
                        .WriteTo(dir_.Path()));
        day_ = QuorveldProcess::TodaysLogName();
        ASSERT_TRUE(quorveld_.Start());
        ASSERT_TRUE(quorveld_.WaitForOutput(Utf8("INFOR 系统启动成功!\n"), 30s)) << quorveld_.Output();
        ASSERT_TRUE(quorveld_.SendLine("start"));
        ASSERT_TRUE(quorveld_.WaitForOutput(Utf8("成功开始监听(端口号:" + std::to_string(port_) + ")!\n"), 30s))
            << quorveld_.Output();
        ASSERT_TRUE(quorveld_.WaitForOutput(Utf8("INFOR 消息服务已经开启成功!\n"), 30s)) << quorveld_.Output();
    }

    // The GBK text as the terminal shows it.
    static std::string Utf8(const std::string& gbk) { return CTerminalText::ToUtf8(gbk); }

    // The day's log file (the day the run began, or today).
    std::string ReadLog() const
    {
        std::string log = TempFolder::Read(dir_ / ("log/" + day_));
        return log.empty() ? TempFolder::Read(dir_ / ("log/" + QuorveldProcess::TodaysLogName())) : log;
    }

    void ExpectCleanExit(int status)
    {
        ASSERT_TRUE(WIFEXITED(status)) << "status " << status << "\n" << quorveld_.Output();
        EXPECT_EQ(WEXITSTATUS(status), 0);
        const std::string log = ReadLog();
        // The log file keeps GBK: the session's lines from start to stop.
        EXPECT_NE(log.find("] INFOR 系统启动成功!\r\n"), std::string::npos);
        EXPECT_NE(log.find("] INFOR 消息服务已经开启成功!\r\n"), std::string::npos);
        EXPECT_NE(log.find("通信监听已经停止..."), std::string::npos);
        EXPECT_EQ(log.find(Utf8("消息服务")), std::string::npos);
    }

    TempFolder dir_;
    QuorveldProcess quorveld_{dir_.Path()};
    unsigned port_ = 0;
    std::string day_;
};

TEST_F(QuorveldConsole, ExitCommandAfterALoginWritesTheSettingsAndTheLog)
{
    TestClient alice(port_);
    ASSERT_TRUE(alice.Open());
    EXPECT_EQ(alice.Login("alice", "secret"), "success");

    ASSERT_TRUE(quorveld_.SendLine("options on"));
    ASSERT_TRUE(quorveld_.WaitForOutput("SendAllFriend=1", 30s)) << quorveld_.Output();
    ASSERT_TRUE(quorveld_.SendLine("exit"));
    ExpectCleanExit(quorveld_.WaitForExit(60s));
    EXPECT_EQ(TempFolder::Read(dir_ / "config/server.ini"), "[SERVER]\r\nSendAllFriend=1\r\n");
}

TEST_F(QuorveldConsole, AMessageForAnAbsentUserIsDeliveredAfterTheLogin)
{
    TestClient alice(port_);
    ASSERT_EQ(alice.Login("alice", "secret"), "success");
    CMessageUserTalking talking;
    talking.type = CMessageUserTalking::kType;
    talking.source = "alice@hub";
    talking.target = "bob@hub";
    talking.text = "hello bob";
    ASSERT_TRUE(alice.Send(talking));
    ASSERT_TRUE(alice.Sync().has_value());   // the message has been stored

    TestClient bob(port_);
    ASSERT_EQ(bob.Login("bob", "secret"), "success");
    std::unique_ptr<CMessageUserTalking> delivered;
    for (int i = 0; i < 10 && !delivered; ++i)
        delivered = bob.ReceiveAs<CMessageUserTalking>(2s);
    ASSERT_TRUE(delivered) << quorveld_.Output();
    EXPECT_EQ(delivered->text, "hello bob");
    ASSERT_TRUE(quorveld_.SendLine("exit"));
    ExpectCleanExit(quorveld_.WaitForExit(60s));
}

TEST_F(QuorveldConsole, SigtermWhileServingEndsCleanly)
{
    TestClient alice(port_);
    ASSERT_TRUE(alice.Open());
    EXPECT_EQ(alice.Login("alice", "secret"), "success");
    ASSERT_TRUE(quorveld_.Signal(SIGTERM));
    ExpectCleanExit(quorveld_.WaitForExit(60s));
    EXPECT_TRUE(quorveld_.WaitForOutput(Utf8("通信监听已经停止..."), 5s)) << quorveld_.Output();
    EXPECT_EQ(TempFolder::Read(dir_ / "config/server.ini"), "[SERVER]\r\nSendAllFriend=0\r\n");
}

TEST_F(QuorveldConsole, UnknownCommandsAreAnsweredAndTheEndOfInputIsNoExit)
{
    ASSERT_TRUE(quorveld_.SendLine("help"));
    ASSERT_TRUE(quorveld_.WaitForOutput(
        "unknown command; known commands: start, stop, status, options, options on, options off, exit\n", 30s));
    quorveld_.CloseInput();
    // The end of input must not end the program: a stretch in which it goes
    // on running is the test.
    std::this_thread::sleep_for(300ms);
    ASSERT_TRUE(quorveld_.Running());
    // The service still answers.
    TestClient alice(port_);
    ASSERT_TRUE(alice.Open());
    EXPECT_EQ(alice.Login("alice", "secret"), "success");
    ASSERT_TRUE(quorveld_.Signal(SIGINT));
    ExpectCleanExit(quorveld_.WaitForExit(60s));
}

TEST_F(QuorveldConsole, StopClosesThePortAndStartOpensItAgain)
{
    ASSERT_TRUE(quorveld_.SendLine("stop"));
    ASSERT_TRUE(quorveld_.WaitForOutput(Utf8("通信监听已经停止..."), 30s));
    EXPECT_FALSE(TestClient(port_).Open());
    ASSERT_TRUE(quorveld_.SendLine("start"));
    const std::string listening = Utf8("成功开始监听(端口号:" + std::to_string(port_) + ")!");
    ASSERT_TRUE(quorveld_.WaitForOutput(listening, 30s, 2)) << quorveld_.Output();
    TestClient alice(port_);
    EXPECT_TRUE(alice.Open());
    ASSERT_EQ(alice.Login("alice", "secret"), "success");
    // The status block on standard output, its lines whole.
    ASSERT_TRUE(quorveld_.SendLine("status"));
    ASSERT_TRUE(quorveld_.WaitForOutput("status: listening on port " + std::to_string(port_) +
                                            "\nconnections: 1 open, 1 accepted since start; users logged in: 1; "
                                            "logins: 1 ok, 0 failed\n",
                                        30s))
        << quorveld_.Output();
    ASSERT_TRUE(quorveld_.SendLine("exit"));
    ExpectCleanExit(quorveld_.WaitForExit(60s));
}

} // namespace
