#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <thread>

using corvane::CEventLoopThread;
using corvane::CMyRASSocket;
using corvane::ON_WS_DISCONNECTED;
using quorvel::testsupport::FreePort;
using quorvel::testsupport::WaitUntil;

namespace {

std::vector<std::string> g_callbackOrder;
std::vector<std::string> g_idsInCallback;
bool g_wsRanFirst = true;

int OnDisconnect(ON_WS_DISCONNECTED* para)
{
    g_callbackOrder.emplace_back("callback");
    g_idsInCallback.emplace_back(para->socket->userId);
    auto* server = static_cast<TestServer*>(para->socket->owner);
    g_wsRanFirst = g_wsRanFirst && server->disconnectedIds.size() == g_idsInCallback.size();
    return 0;
}

int OnAcceptCount(CMyRASSocket*)
{
    g_callbackOrder.emplace_back("accept");
    return 0;
}

// The callbacks are plain functions, so their records are global: a test
// that reads them starts them afresh (--gtest_repeat runs it again).
void ResetCallbackRecords()
{
    g_callbackOrder.clear();
    g_idsInCallback.clear();
    g_wsRanFirst = true;
}

TEST(ListenServer, PortLimitAndPortInUse)
{
    ServerFixture fixture;
    ASSERT_NE(fixture.port, 0u);
    CEventLoopThread other;
    const auto result = other.Loop().Call([&] {
        TestServer second;
        second.SetLogEvent(&Recorder::Log);
        second.RegCallBackOnSckString(&Recorder::Receive);
        return std::make_pair(second.BeginListen(2000), second.BeginListen(fixture.port));
    });
    ASSERT_TRUE(result);
    EXPECT_EQ(result->first, 0);
    EXPECT_EQ(result->second, 0);
    EXPECT_TRUE(Recorder::HasLine("INFOR 服务器侦听端口号 2000 太小..."));
    EXPECT_TRUE(Recorder::HasLine("生成监听套接字错误!"));
    EXPECT_TRUE(Recorder::HasLine("ERROR 监听端口 " + std::to_string(fixture.port) + " 失败: " +
                                  std::strerror(EADDRINUSE)));
    EXPECT_TRUE(Recorder::HasLine("成功开始监听(端口号:" + std::to_string(fixture.port) + ")!"));
}

TEST(ListenServer, WithoutStringCallbackWarnsAndStillListens)
{
    ServerFixture fixture(false);
    ASSERT_NE(fixture.port, 0u);
    CEventLoopThread other;
    auto listened = other.Loop().Call([] {
        TestServer server;
        server.SetLogEvent(&Recorder::Log);
        int result = 0;
        for (int i = 0; i < 20 && !result; ++i)
            result = server.BeginListen(FreePort());
        return result;
    });
    EXPECT_EQ(listened.value_or(0), 1);
    EXPECT_TRUE(Recorder::HasLine("CMyRASServer_Srv类未注册消息事件回调函数,将无法处理接收到的信息,"
                                  "请调用方法 SetOnSckString() 注册消息处理函数. "));
}

TEST(ListenServer, CloseThenSweepAtNextAcceptWithExactLines)
{
    ResetCallbackRecords();
    ServerFixture fixture;
    fixture.OnLoop([&] { fixture.server->RegCallBackFunction(&OnAcceptCount, &OnDisconnect); });
    auto first = std::make_unique<RawConnection>(fixture.port);
    auto second = std::make_unique<RawConnection>(fixture.port);
    ASSERT_TRUE(WaitUntil([&] { return fixture.OnLoop([&] { return fixture.server->Count(); }) == 2; }));
    fixture.OnLoop([&] {
        std::strcpy(fixture.server->At(0)->userId, "alice");
        std::strcpy(fixture.server->At(0)->userName, "Alice");
    });
    first.reset();
    second.reset();
    ASSERT_TRUE(WaitUntil([] { return Recorder::HasLine("INFOR [alice][Alice]断开了连接"); }));
    ASSERT_TRUE(WaitUntil([] { return Recorder::HasLine("INFOR [][]断开了连接"); }));

    fixture.OnLoop([&] {
        EXPECT_EQ(fixture.server->Count(), 2u);
        EXPECT_EQ(fixture.server->At(0)->active.load(), 0);
        EXPECT_STREQ(fixture.server->At(0)->userId, "");
        EXPECT_STREQ(fixture.server->At(0)->userName, "Alice");
    });
    EXPECT_EQ(Recorder::CountLines("删除了一个已经断开的连接对象!"), 0);

    RawConnection third(fixture.port);
    ASSERT_TRUE(WaitUntil([] { return Recorder::CountLines("删除了一个已经断开的连接对象!") == 2; }));
    fixture.OnLoop([&] {
        EXPECT_EQ(fixture.server->Count(), 1u);
        // OnWsDisconnected runs before the callback; both see the user id.
        EXPECT_TRUE(g_wsRanFirst);
        EXPECT_EQ(fixture.server->disconnectedIds, g_idsInCallback);
        EXPECT_EQ(std::count(g_idsInCallback.begin(), g_idsInCallback.end(), "alice"), 1);
    });
    std::vector<std::string> expected{"accept", "accept", "callback", "callback", "accept"};
    fixture.OnLoop([&] { EXPECT_EQ(g_callbackOrder, expected); });
}

TEST(ListenServer, DestroyingTheEndpointClosesAllWithoutCloseLines)
{
    auto fixture = std::make_unique<ServerFixture>();
    RawConnection a(fixture->port);
    RawConnection b(fixture->port);
    ASSERT_TRUE(WaitUntil([&] { return fixture->OnLoop([&] { return fixture->server->Count(); }) == 2; }));
    fixture->OnLoop([&] { fixture->server.reset(); });
    EXPECT_TRUE(a.ClosedByPeerWithin());
    EXPECT_TRUE(b.ClosedByPeerWithin());
    EXPECT_TRUE(Recorder::HasLine("通信监听已经停止..."));
    for (const std::string& line : Recorder::Lines())
        EXPECT_EQ(line.find("断开了连接"), std::string::npos) << line;
}

TEST(ListenServer, SendBuffAnswersOnTheConnection)
{
    ServerFixture fixture;
    RawConnection client(fixture.port);
    ASSERT_TRUE(WaitUntil([&] { return fixture.OnLoop([&] { return fixture.server->Count(); }) == 1; }));
    EXPECT_EQ(fixture.OnLoop([&] { return fixture.server->SendBuff(fixture.server->At(0), "reply", 5); }), 1);
    EXPECT_EQ(client.Read(29), Frame("reply"));
}

TEST(ListenServer, OtherThreadsReadAndSendUnderTheConnectionsLock)
{
    ServerFixture fixture;
    std::vector<std::unique_ptr<RawConnection>> clients;
    for (int i = 0; i < 3; ++i)
        clients.push_back(std::make_unique<RawConnection>(fixture.port));
    ASSERT_TRUE(WaitUntil([&] { return fixture.OnLoop([&] { return fixture.server->Count(); }) == 3; }));

    // Senders on other threads while clients come and go on the loop.
    std::atomic<int> sent{0};
    std::vector<std::thread> senders;
    for (int t = 0; t < 2; ++t) {
        senders.emplace_back([&] {
            for (int round = 0; round < 200; ++round) {
                auto lock = fixture.server->LockConnections();
                auto& list = fixture.server->List();
                for (auto& connection : list)
                    sent += fixture.server->SendBuff(connection.get(), "x", 1);
            }
        });
    }
    for (int i = 0; i < 10; ++i) {
        clients.push_back(std::make_unique<RawConnection>(fixture.port));
        clients.erase(clients.begin());
    }
    for (auto& sender : senders)
        sender.join();
    EXPECT_GT(sent.load(), 0);
}

} // namespace

namespace {

// The number the next new descriptor would get.
rlim_t LowestFreeDescriptor()
{
    int probe = ::dup(0);
    ::close(probe);
    return static_cast<rlim_t>(probe);
}

TEST(ListenServer, AcceptWithoutDescriptorsClosesTheNewestAtOnce)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizer runtime needs descriptors of its own";
#endif
    ServerFixture fixture;
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(fixture.port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);

    rlimit saved{};
    ::getrlimit(RLIMIT_NOFILE, &saved);
    rlimit tight = saved;
    tight.rlim_cur = LowestFreeDescriptor();
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    // The server takes the connection on its spare descriptor and closes it,
    // so the peer learns at once instead of waiting in the backlog.
    pollfd readable{fd, POLLIN, 0};
    const bool answered = ::poll(&readable, 1, 5000) == 1;
    char byte = 0;
    const long got = answered ? ::recv(fd, &byte, 1, 0) : 1;
    const std::size_t whileStarved = fixture.OnLoop([&] { return fixture.server->Count(); });
    ::setrlimit(RLIMIT_NOFILE, &saved);
    ::close(fd);

    EXPECT_TRUE(answered);
    EXPECT_LE(got, 0);
    EXPECT_EQ(whileStarved, 0u);
    EXPECT_TRUE(WaitUntil(
        [] { return Recorder::HasLine("ERROR 可用文件描述符已耗尽，来自 127.0.0.1 的新连接被立即关闭"); }));
    // With descriptors back, connections are served again.
    RawConnection later(fixture.port);
    ASSERT_TRUE(later.Open());
    EXPECT_TRUE(WaitUntil([&] { return fixture.OnLoop([&] { return fixture.server->Count(); }) == 1; }));
}

} // namespace
