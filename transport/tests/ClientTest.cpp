#include "TestSupport.h"

#include "corvane/CFrameSender.h"
#include "corvane/CMyRASServer_Client.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <memory>
#include <mutex>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using corvane::CEventLoop;
using corvane::CEventLoopThread;
using corvane::CFrameSender;
using corvane::CMyRASServer_Client;
using quorvel::testsupport::FreePort;
using quorvel::testsupport::WaitUntil;

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
    ASSERT_TRUE(WaitUntil([] { return Recorder::Payloads() == std::vector<std::string>{"hello"}; }));
}

TEST_F(Client, PeerCloseIsSeenAndLaterSendsAreRefused)
{
    ASSERT_EQ(client.ConnectToServer("127.0.0.1", static_cast<int>(fixture.port)), 1);
    ASSERT_TRUE(WaitUntil([&] { return fixture.OnLoop([&] { return fixture.server->Count(); }) == 1; }));
    fixture.OnLoop([&] { fixture.server->FreeAllItems(); });
    ASSERT_TRUE(WaitUntil([&] { return client.IsConnected() == 0; }));
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
    ASSERT_TRUE(WaitUntil([&] { return fixture.OnLoop([&] { return fixture.server->Count(); }) == 1; }));
    fixture.OnLoop([&] { fixture.server->FreeAllItems(); });
    EXPECT_TRUE(WaitUntil([] { return Recorder::HasLine("套接字已经断开连接..."); }));
    EXPECT_EQ(*loop.Loop().Call([&] { return onLoop->IsConnected(); }), 0);
    loop.Loop().Call([&] { onLoop.reset(); });
}

CFrameSender::Request SendTo(unsigned port, std::string payload, CFrameSender::Limits limits = {})
{
    CFrameSender::Request request;
    request.host = "127.0.0.1";
    request.port = static_cast<int>(port);
    request.payload = std::move(payload);
    request.limits = limits;
    request.log = &Recorder::Log;
    return request;
}

TEST_F(Client, FrameSenderDeliversOneFrameAndReportsARefusedConnect)
{
    CEventLoopThread loop;
    auto request = SendTo(fixture.port, "across");
    bool connectedFirst = false;
    request.onConnected = [&] { connectedFirst = Recorder::Payloads().empty(); };
    EXPECT_EQ(CFrameSender::Start(loop.Loop(), std::move(request)).Wait(), CFrameSender::Result::kSent);
    EXPECT_TRUE(connectedFirst);
    EXPECT_TRUE(Recorder::HasLine(Connected(fixture.port)));
    ASSERT_TRUE(WaitUntil([] { return Recorder::Payloads() == std::vector<std::string>{"across"}; }));

    const unsigned closed = FreePort();
    EXPECT_EQ(CFrameSender::Start(loop.Loop(), SendTo(closed, "x")).Wait(), CFrameSender::Result::kConnectFailed);
    EXPECT_TRUE(Recorder::HasLine(Failed(closed)));
    EXPECT_EQ(CFrameSender::Start(loop.Loop(), SendTo(0, "x")).Wait(), CFrameSender::Result::kConnectFailed);
    EXPECT_TRUE(Recorder::HasLine(Failed(0)));
}

// Holds a loop in one job until destroyed.
// Holds a loop's thread in a callback until destroyed. The callback shares
// its state, since it may still be waking up on the held loop's thread after
// the hold is gone.
class LoopHold {
public:
    explicit LoopHold(CEventLoop& loop) : state_(std::make_shared<State>())
    {
        loop.Post([state = state_] {
            std::unique_lock lock(state->mutex);
            state->released.wait(lock, [&] { return state->release; });
        });
    }
    ~LoopHold()
    {
        {
            std::lock_guard lock(state_->mutex);
            state_->release = true;
        }
        state_->released.notify_all();
    }
    LoopHold(const LoopHold&) = delete;
    LoopHold& operator=(const LoopHold&) = delete;

private:
    struct State {
        std::mutex mutex;
        std::condition_variable released;
        bool release = false;
    };
    std::shared_ptr<State> state_;
};

TEST_F(Client, FrameSenderGivesUpOnAPeerThatStopsReadingOrAtAStop)
{
    // With the server's loop held, the system accepts the connection but
    // nobody reads it: a large frame fills every buffer and stalls.
    LoopHold hold(fixture.thread.Loop());
    CEventLoopThread loop;
    const std::string large(8 * 1024 * 1024, 'x');
    const CFrameSender::Limits shortStall{std::chrono::seconds(3), std::chrono::milliseconds(300),
                                          std::chrono::seconds(30)};
    EXPECT_EQ(CFrameSender::Start(loop.Loop(), SendTo(fixture.port, large, shortStall)).Wait(),
              CFrameSender::Result::kSendFailed);
    EXPECT_TRUE(Recorder::HasLine("ERROR 127.0.0.1[" + std::to_string(fixture.port) + "]发送数据失败，关闭该连接"));

    std::stop_source stop;
    auto stalled = CFrameSender::Start(loop.Loop(), SendTo(fixture.port, large));
    ASSERT_TRUE(WaitUntil([] { return CountPrefix("已经成功连接到RAS服务器") == 2; }));
    EXPECT_EQ(stalled.State(), CFrameSender::Result::kPending);
    stop.request_stop();
    EXPECT_EQ(stalled.Wait(stop.get_token()), CFrameSender::Result::kCancelled);
    EXPECT_EQ(CountPrefix("ERROR"), 1) << "a stop is no failure";
}

TEST_F(Client, FrameSenderCancelledBeforeItsLoopRuns)
{
    CEventLoop idle;
    auto sender = CFrameSender::Start(idle, SendTo(fixture.port, "never"));
    EXPECT_EQ(sender.State(), CFrameSender::Result::kPending);
    sender.Cancel();
    EXPECT_EQ(sender.Wait(), CFrameSender::Result::kCancelled);
    idle.Poll();
    EXPECT_EQ(sender.State(), CFrameSender::Result::kCancelled);
    EXPECT_TRUE(Recorder::Lines().empty()) << "a cancelled send never connects";
    EXPECT_EQ(CFrameSender().Wait(), CFrameSender::Result::kCancelled) << "an empty handle";
}

} // namespace
