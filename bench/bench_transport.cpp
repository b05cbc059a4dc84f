// Transport throughput: frame scanning in memory, and 1,000,000 frames of
// 100 bytes over loopback through the library next to a plain socket loop
// moving the same bytes (compare the frames_per_s counters of the two).
#include "corvane/CEventLoopThread.h"
#include "corvane/CFrame.h"
#include "corvane/CMyRASServer_Client.h"
#include "corvane/CMyRASServer_Srv.h"
#include "corvane/CMyRASSocket.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

using corvane::CEventLoopThread;
using corvane::CFrame;
using corvane::CMyRASServer;
using corvane::CMyRASServer_Client;
using corvane::CMyRASServer_Srv;
using corvane::CMyRASSocket;
using corvane::ON_WS_DISCONNECTED;
using corvane::RAS_CALLBACK_PARA;

namespace {

constexpr std::size_t kReadSize = 64 * 1024;
constexpr int kLoopbackFrames = 1000000;
constexpr std::uint32_t kLoopbackPayload = 100;

std::atomic<long> g_frames{0};

void CountFrame(RAS_CALLBACK_PARA*)
{
    g_frames.fetch_add(1, std::memory_order_relaxed);
}

void DropLine(const char*) {}

// An endpoint that only counts what it receives.
class Sink : public CMyRASServer {
public:
    void OnSocketClosed(CMyRASSocket*) override {}
};

class CountingServer : public CMyRASServer_Srv {
public:
    void OnWsDisconnected(ON_WS_DISCONNECTED*) override {}
    std::vector<CMyRASSocket*> All() const
    {
        std::vector<CMyRASSocket*> all;
        for (const auto& connection : connections)
            all.push_back(connection.get());
        return all;
    }
};

std::vector<std::uint8_t> Stream(std::uint32_t payload, std::size_t minBytes)
{
    std::vector<std::uint8_t> frame(CFrame::kHeaderSize + payload, 'p');
    CFrame::BuildHeader(frame.data(), payload);
    std::vector<std::uint8_t> stream;
    while (stream.size() < minBytes)
        stream.insert(stream.end(), frame.begin(), frame.end());
    return stream;
}

// Frames of state.range(0) payload bytes fed in 64 KiB reads; with
// state.range(1) set, a log callback is registered so the per-frame receive
// line is formatted as in the program.
void BM_FrameScan(benchmark::State& state)
{
    const auto payload = static_cast<std::uint32_t>(state.range(0));
    const auto stream = Stream(payload, 8 * 1024 * 1024);
    Sink sink;
    sink.RegCallBackOnSckString(&CountFrame);
    if (state.range(1))
        sink.SetLogEvent(&DropLine);
    CMyRASSocket socket(&sink);
    g_frames = 0;
    for (auto _ : state) {
        for (std::size_t at = 0; at < stream.size(); at += kReadSize)
            socket.ReceiveBytes(stream.data() + at, std::min(kReadSize, stream.size() - at));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
    state.counters["frames_per_s"] = benchmark::Counter(static_cast<double>(g_frames.load()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FrameScan)->Args({64, 0})->Args({4096, 0})->Args({64, 1})->Args({4096, 1});

unsigned ListenOn(CountingServer& server)
{
    for (unsigned port = 20000 + static_cast<unsigned>(getpid() % 20000); port < 65000; port += 7) {
        if (server.BeginListen(port))
            return port;
    }
    return 0;
}

// A CountingServer listening on 127.0.0.1 from a loop thread of its own,
// ended on that thread when this goes.
struct Listening {
    CEventLoopThread loop;
    std::unique_ptr<CountingServer> server;
    unsigned port = 0;

    explicit Listening(void (*onFrame)(RAS_CALLBACK_PARA*) = nullptr)
    {
        port = *loop.Loop().Call([&] {
            server = std::make_unique<CountingServer>();
            if (onFrame)
                server->RegCallBackOnSckString(onFrame);
            return ListenOn(*server);
        });
    }
    ~Listening()
    {
        loop.Loop().Call([&] { server.reset(); });
    }

    // A plain socket connected (or, when nonblocking, connecting) to the port.
    int Connect(int flags = 0) const
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM | flags, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        return fd;
    }

    // The server's connections, waiting until it has accepted `count`.
    std::vector<CMyRASSocket*> Accepted(std::size_t count)
    {
        std::vector<CMyRASSocket*> connections;
        while (connections.size() < count) {
            connections = *loop.Loop().Call([&] {
                auto lock = server->LockConnections();
                return server->All();
            });
        }
        return connections;
    }
};

// One client sends 1,000,000 frames of 100 bytes to the listening server;
// the time runs until the server's callback has seen the last one.
void BM_LoopbackLibrary(benchmark::State& state)
{
    Listening listening(&CountFrame);
    const std::vector<std::uint8_t> payload(kLoopbackPayload, 'm');
    for (auto _ : state) {
        g_frames = 0;
        CMyRASServer_Client client;
        if (!listening.port || !client.ConnectToServer("127.0.0.1", static_cast<int>(listening.port))) {
            state.SkipWithError("no loopback connection");
            break;
        }
        for (int i = 0; i < kLoopbackFrames; ++i)
            client.SendBuff(payload.data(), kLoopbackPayload);
        while (g_frames.load() < kLoopbackFrames)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    state.counters["frames_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kLoopbackFrames, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LoopbackLibrary)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

// The listening server sends 1,000,000 frames of 100 bytes on one
// connection from its loop thread, in handlers of 10,000 frames; a plain
// reader drains them. Frames sent in one handler go out in gathered writes.
void BM_LoopbackServerSends(benchmark::State& state)
{
    constexpr int kBatch = 10000;
    Listening listening;
    CountingServer& server = *listening.server;
    const std::vector<std::uint8_t> payload(kLoopbackPayload, 'm');
    const std::size_t total = (CFrame::kHeaderSize + kLoopbackPayload) * kLoopbackFrames;
    for (auto _ : state) {
        const int reader = listening.Connect();
        CMyRASSocket* connection = listening.Accepted(1).back();
        for (int sent = 0; sent < kLoopbackFrames; sent += kBatch) {
            listening.loop.Loop().Post([&, connection] {
                for (int i = 0; i < kBatch; ++i)
                    server.SendBuff(connection, payload.data(), kLoopbackPayload);
            });
        }
        std::vector<char> buffer(kReadSize);
        std::size_t got = 0;
        while (got < total) {
            long n = ::recv(reader, buffer.data(), buffer.size(), 0);
            if (n <= 0)
                break;
            got += static_cast<std::size_t>(n);
        }
        ::close(reader);
        listening.loop.Loop().Call([&] { server.FreeAllItems(); });
    }
    state.counters["frames_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kLoopbackFrames, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LoopbackServerSends)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

// The listening server sends one frame of 100 bytes to each of 200
// connections per handler, 5,000 handlers, as a relay of many pairs at a
// modest rate does; one plain reader thread drains every connection. The
// cost is the write per connection per turn, not the bytes.
void BM_LoopbackServerSendsToManyConnections(benchmark::State& state)
{
    constexpr int kConnections = 200;
    constexpr int kRounds = 5000;
    Listening listening;
    CountingServer& server = *listening.server;
    const std::vector<std::uint8_t> payload(kLoopbackPayload, 'm');
    const std::size_t total = (CFrame::kHeaderSize + kLoopbackPayload) * kRounds * kConnections;
    for (auto _ : state) {
        std::vector<pollfd> readers;
        for (int i = 0; i < kConnections; ++i)
            readers.push_back({listening.Connect(SOCK_NONBLOCK), POLLIN, 0});
        const std::vector<CMyRASSocket*> connections = listening.Accepted(kConnections);
        for (int round = 0; round < kRounds; ++round) {
            listening.loop.Loop().Post([&] {
                for (CMyRASSocket* connection : connections)
                    server.SendBuff(connection, payload.data(), kLoopbackPayload);
            });
        }
        std::vector<char> buffer(kReadSize);
        std::size_t got = 0;
        while (got < total && ::poll(readers.data(), readers.size(), 10000) > 0) {
            for (pollfd& reader : readers) {
                if ((reader.revents & POLLIN) == 0)
                    continue;
                const long n = ::recv(reader.fd, buffer.data(), buffer.size(), 0);
                if (n > 0)
                    got += static_cast<std::size_t>(n);
            }
        }
        for (const pollfd& reader : readers)
            ::close(reader.fd);
        listening.loop.Loop().Call([&] { server.FreeAllItems(); });
    }
    state.counters["frames_per_s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * kRounds * kConnections, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LoopbackServerSendsToManyConnections)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same bytes with plain sockets: one send per frame, a reader thread
// that receives 64 KiB at a time and discards.
void BM_LoopbackPlain(benchmark::State& state)
{
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof address;
    ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &len);
    ::listen(listener, 5);
    const auto frame = Stream(kLoopbackPayload, 1);
    const std::size_t total = frame.size() * kLoopbackFrames;
    for (auto _ : state) {
        int writer = ::socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        ::setsockopt(writer, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        ::connect(writer, reinterpret_cast<sockaddr*>(&address), sizeof address);
        int reader = ::accept(listener, nullptr, nullptr);
        std::thread drain([&] {
            std::vector<char> buffer(kReadSize);
            std::size_t got = 0;
            while (got < total) {
                long n = ::recv(reader, buffer.data(), buffer.size(), 0);
                if (n <= 0)
                    break;
                got += static_cast<std::size_t>(n);
            }
        });
        for (int i = 0; i < kLoopbackFrames; ++i)
            ::send(writer, frame.data(), frame.size(), MSG_NOSIGNAL);
        drain.join();
        ::close(writer);
        ::close(reader);
    }
    ::close(listener);
    state.counters["frames_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kLoopbackFrames, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LoopbackPlain)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
