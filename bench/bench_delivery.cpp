// Delivery of stored messages: 100,000 chat messages wait in the cache for
// one user; the user logs in and the delivery worker hands them over to the
// service loop in batches, where each goes through HandleMsgCache. Reports
// the seconds from sending the login to receiving the last frame (manual
// time). And the hand-over alone: parsed messages crossing from a worker
// thread to a loop and back in one wait, by batch size (1 is one wait per
// message).

#include "quorvel_service/CChatServer.h"
#include "quorvel_store/CMsgSendThread.h"

#include "corvane/CEventLoopThread.h"
#include "corvane/CFrame.h"
#include "marlune/Marlune.h"
#include "quorvel_test_support/TempFolder.h"
#include "scrivlet/CLog4c.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

using corvane::CEventLoopThread;
using corvane::CFrame;
using marlune::BX_DATA;
using marlune::CMessageBase;
using marlune::CMessageUserLogin;
using marlune::CMessageUserTalking;
using marlune::CTalker;
using marlune::CXmlMsg;
using quorvel::service::CChatServer;
using quorvel::store::CMsgSendThread;
using quorvel::testsupport::TempFolder;
using scrivlet::CLog4c;

namespace {

constexpr int kMessages = 100000;

std::string Built(CMessageBase& message)
{
    BX_DATA bx(&message);
    CXmlMsg codec;
    codec.BuildXml(&bx);
    return bx.buff;
}

// A blocking client socket on 127.0.0.1.
class BenchClient {
public:
    explicit BenchClient(unsigned port)
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~BenchClient()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool Send(const std::string& payload)
    {
        std::string frame(CFrame::kHeaderSize, '\0');
        CFrame::BuildHeader(reinterpret_cast<std::uint8_t*>(frame.data()), static_cast<std::uint32_t>(payload.size()));
        frame += payload;
        return fd_ >= 0 && ::send(fd_, frame.data(), frame.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(frame.size());
    }
    // Reads frames until `count` chat messages came; false when the
    // connection ended first.
    bool ReceiveChats(int count)
    {
        std::string buffer;
        char chunk[65536];
        int chats = 0;
        while (chats < count) {
            const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
            if (n <= 0)
                return false;
            buffer.append(chunk, static_cast<std::size_t>(n));
            std::size_t at = 0;
            while (buffer.size() - at >= CFrame::kHeaderSize) {
                std::uint32_t length = 0;
                std::memcpy(&length, buffer.data() + at + 12, sizeof length);
                if (buffer.size() - at < CFrame::kHeaderSize + length)
                    break;
                if (buffer.find("user-talking", at + CFrame::kHeaderSize) < at + CFrame::kHeaderSize + length)
                    ++chats;
                at += CFrame::kHeaderSize + length;
            }
            buffer.erase(0, at);
        }
        return true;
    }

private:
    int fd_ = -1;
};

void BM_DeliverStoredMessagesAfterLogin(benchmark::State& state)
{
    for (auto _ : state) {
        const TempFolder folder("quorvel_bench");
        {
            CLog4c log;
            CEventLoopThread loop;
            std::unique_ptr<CChatServer> service;
            CMsgSendThread worker(log);
            const auto port = loop.Loop().Call([&]() -> unsigned {
                service = std::make_unique<CChatServer>(log, [] { return false; });
                service->RegCallBackOnSckString(&CChatServer::OnSckString);
                service->localServer.name = "hub";
                CTalker bob;
                bob.userId = "bob";
                bob.password = "b-pw";
                bob.serverName = "hub";
                service->localServer.AddTalker(bob);
                service->SetMsgStore(worker.Store());
                if (!worker.InitThread(service.get(), folder.Path().string()))
                    return 0;
                std::mt19937 random(std::random_device{}());
                std::uniform_int_distribution<unsigned> ports(20000, 60000);
                for (int attempt = 0; attempt < 100; ++attempt) {
                    const unsigned candidate = ports(random);
                    if (service->BeginListen(candidate))
                        return candidate;
                }
                return 0;
            });
            CMessageUserTalking talk;
            talk.type = CMessageUserTalking::kType;
            talk.time = "2026-12-07 21:30:00";
            talk.source = "alice@hub";
            talk.target = "bob@hub";
            talk.text = std::string(80, 'x');
            const std::string bytes = Built(talk);
            for (int i = 0; i < kMessages; ++i)
                worker.Cache().AddMsg(bytes.data(), bytes.size(), "alice", "hub", "bob", "hub");
            loop.Loop().Call([&] { return worker.StartService(); });

            CMessageUserLogin login;
            login.type = CMessageUserLogin::kType;
            login.userId = "bob";
            login.password = "b-pw";
            login.statu = "online";
            BenchClient client(port.value_or(0));
            const auto start = std::chrono::steady_clock::now();
            const bool ok = port && *port != 0 && client.Send(Built(login)) && client.ReceiveChats(kMessages);
            const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
            state.SetIterationTime(seconds.count());
            state.counters["seconds_login_to_last"] = seconds.count();
            state.counters["messages_per_s"] = kMessages / seconds.count();
            loop.Loop().Call([&] {
                worker.StopService();
                service.reset();
            });
            if (!ok)
                state.SkipWithError("the messages did not all arrive");
        }
    }
}
BENCHMARK(BM_DeliverStoredMessagesAfterLogin)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

void BM_HandOver(benchmark::State& state)
{
    const auto batch = static_cast<std::size_t>(state.range(0));
    CMessageUserTalking talk;
    talk.type = CMessageUserTalking::kType;
    talk.source = "alice@hub";
    talk.target = "bob@hub";
    talk.text = std::string(80, 'x');
    CEventLoopThread loop;
    std::size_t offered = 0;
    for (auto _ : state) {
        auto items = std::make_shared<std::vector<std::unique_ptr<CMessageBase>>>();
        state.PauseTiming();
        for (std::size_t i = 0; i < batch; ++i)
            items->push_back(std::make_unique<CMessageUserTalking>(talk));
        state.ResumeTiming();
        // The loop looks at each message, as the offers do, and the worker
        // takes the batch back.
        loop.Loop().Call([items, &offered] {
            for (const auto& message : *items)
                offered += message->target.size();
        });
        benchmark::DoNotOptimize(items->size());
    }
    benchmark::DoNotOptimize(offered);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(batch));
}
BENCHMARK(BM_HandOver)->Arg(1)->Arg(16)->Arg(256)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
