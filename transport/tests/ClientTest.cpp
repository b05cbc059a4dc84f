#include "TestSupport.h"

#include "corvane/CMyRASServer_Client.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

std::string Connected(unsigned port)
{
    return "已经成功连接到RAS服务器:127.0.0.1[" + std::to_string(port) + "]!";
}

std::string Failed(unsigned port)
{
    return "连接服务器127.0.0.1[" + std::to_string(port) + "]失败,请检查服务器!";
}

int CountPrefix(const std::string& prefix)
{
    int n = 0;
    for (const std::string& line : Recorder::Lines())
        n += line.rfind(prefix, 0) == 0;
    return n;
}

// True when nothing accepts connections on the port right now.
bool NobodyListens(unsigned port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool refused = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0;
    ::close(fd);
    return refused;
}

class Client : public ::testing::Test {
protected:
    Client()
    {
        client.SetLogEvent(&Recorder::Log);
        Recorder::Clear();
    }
    ServerFixture fixture;
    CMyRASServer_Client client;
};

TEST_F(Client, AddressWithPortMakesExactlyOneAttempt)
{
    const unsigned closed = FreePort();
    client.SetServerPort(static_cast<int>(fixture.port), static_cast<int>(fixture.port));
    EXPECT_EQ(client.ConnectToServer("127.0.0.1:" + std::to_string(closed)), 0);
    EXPECT_EQ(CountPrefix("连接服务器"), 1);
    EXPECT_TRUE(Recorder::HasLine(Failed(closed)));

    EXPECT_EQ(client.ConnectToServer("127.0.0.1:" + std::to_string(fixture.port)), 1);
    EXPECT_TRUE(Recorder::HasLine(Connected(fixture.port)));
    EXPECT_EQ(client.IsConnected(), 1);
}

TEST_F(Client, BareAddressWalksThePortRangeUpward)
{
    const unsigned base = FreePort() & ~15u;
    if (base <= 2000)
        GTEST_SKIP() << "no usable port range";
    CEventLoopThread loop;
    auto listeners = loop.Loop().Call([&] {
        auto a = std::make_shared<TestServer>();
        auto b = std::make_shared<TestServer>();
        bool ok = a->BeginListen(base + 3) && b->BeginListen(base + 6);
        return std::make_pair(ok, std::make_pair(a, b));
    });
    ASSERT_TRUE(listeners);
    for (unsigned p = base; p < base + 3; ++p) {
        if (!listeners->first || !NobodyListens(p)) {
            loop.Loop().Call([&] { listeners.reset(); });
            GTEST_SKIP() << "ports around " << base << " are in use";
        }
    }
    client.AddServer("127.0.0.1");
    client.SetServerPort(static_cast<int>(base), static_cast<int>(base + 9));
    EXPECT_EQ(client.ConnectToServer(), 1);
    const std::vector<std::string> expected{Failed(base), Failed(base + 1), Failed(base + 2), Connected(base + 3)};
    EXPECT_EQ(Recorder::Lines(), expected);
    client.DisConnect();
    loop.Loop().Call([&] { listeners.reset(); });
}

TEST_F(Client, SecondConnectWhileConnectedKeepsTheConnection)
{
    ASSERT_EQ(client.ConnectToServer("127.0.0.1", static_cast<int>(fixture.port)), 1);
    EXPECT_EQ(client.ConnectToServer("127.0.0.1", static_cast<int>(FreePort())), 1);
    EXPECT_EQ(CountPrefix("已经成功连接到RAS服务器"), 1);
    EXPECT_EQ(CountPrefix("连接服务器"), 0);
    ASSERT_EQ(client.SendBuff("hello", 5), 1);
    ASSERT_TRUE(Eventually([] { return Recorder::Payloads() == std::vector<std::string>{"hello"}; }));
}

TEST_F(Client, PeerCloseIsSeenAndLaterSendsAreRefused)
{
    ASSERT_EQ(client.ConnectToServer("127.0.0.1", static_cast<int>(fixture.port)), 1);
    ASSERT_TRUE(Eventually([&] { return fixture.OnLoop([&] { return fixture.server->Count(); }) == 1; }));
    fixture.OnLoop([&] { fixture.server->FreeAllItems(); });
    ASSERT_TRUE(Eventually([&] { return client.IsConnected() == 0; }));
    EXPECT_TRUE(Recorder::HasLine("套接字已经断开连接..."));
    EXPECT_EQ(client.SendBuff("late", 4), 0);
    EXPECT_TRUE(Recorder::HasLine("INFOR CMyRASSocket 网络连接已断开，停止发送数据..."));
}

TEST_F(Client, NothingToTryAndNeverConnected)
{
    EXPECT_EQ(client.ConnectToServer(), 0);
    client.DisConnect();
    EXPECT_EQ(client.IsConnected(), 0);
    EXPECT_EQ(client.SendBuff("x", 1), 0);
    EXPECT_EQ(Recorder::Lines(), std::vector<std::string>{"INFOR CMyRASSocket 网络连接已断开，停止发送数据..."});
}

TEST_F(Client, ClientOnALoopThreadSeesTheCloseThere)
{
    CEventLoopThread loop;
    std::unique_ptr<CMyRASServer_Client> onLoop;
    loop.Loop().Call([&] {
        onLoop = std::make_unique<CMyRASServer_Client>();
        onLoop->SetLogEvent(&Recorder::Log);
        return onLoop->ConnectToServer("127.0.0.1", static_cast<int>(fixture.port));
    });
    ASSERT_TRUE(Eventually([&] { return fixture.OnLoop([&] { return fixture.server->Count(); }) == 1; }));
    fixture.OnLoop([&] { fixture.server->FreeAllItems(); });
    EXPECT_TRUE(Eventually([] { return Recorder::HasLine("套接字已经断开连接..."); }));
    EXPECT_EQ(*loop.Loop().Call([&] { return onLoop->IsConnected(); }), 0);
    loop.Loop().Call([&] { onLoop.reset(); });
}

} // namespace
