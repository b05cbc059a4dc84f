// Look-ups of the service by user id, at 10^3 and 10^5 registered users:
// a user's record (login, friend notices, the worker's snapshot), a user's
// connections (every delivery to a user), the delivery worker's per-cycle
// snapshot with 1,000 users logged in, and a user's next stored message
// with every user holding one (the worker's look-up for each logged-in user
// in each cycle). Each should cost the same at both sizes. Last, the copy
// of the registry a save of the directory file takes.
#include "quorvel_service/CChatServer.h"
#include "quorvel_service/CUserConnections.h"
#include "quorvel_store/CPendingIndex.h"
#include "quorvel_directory/CDirectoryWriter.h"

#include "corvane/CMyRASSocket.h"
#include "marlune/CTalkerServer.h"
#include "scrivlet/CLog4c.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

using corvane::CMyRASSocket;
using marlune::CTalker;
using marlune::CTalkerServer;
using quorvel::service::CChatServer;
using quorvel::service::CUserConnections;
using quorvel::store::CPendingIndex;
using scrivlet::CLog4c;

namespace {

constexpr int kLoggedIn = 1000;

std::string Id(int n)
{
    return "user" + std::to_string(n);
}

void Register(CTalkerServer& server, int users)
{
    server.Reserve(static_cast<std::size_t>(users));
    for (int n = 0; n < users; ++n) {
        CTalker talker;
        talker.userId = Id(n);
        talker.password = "pw";
        talker.serverName = "hub";
        server.AddTalker(std::move(talker));
    }
}

// Ids of existing users in random order, so the look-ups do not walk memory
// in the order it was filled.
std::vector<std::string> Probes(int users)
{
    std::vector<std::string> ids;
    std::mt19937 random(7);
    std::uniform_int_distribution<int> pick(0, users - 1);
    for (int i = 0; i < 4096; ++i)
        ids.push_back(Id(pick(random)));
    return ids;
}

void BM_FindUserRecord(benchmark::State& state)
{
    const int users = static_cast<int>(state.range(0));
    CTalkerServer server;
    Register(server, users);
    const auto probes = Probes(users);
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(server.GetTalkerByLogin(probes[i++ & 4095], "pw"));
    }
}
BENCHMARK(BM_FindUserRecord)->Arg(1000)->Arg(100000);

void BM_FindUserConnections(benchmark::State& state)
{
    const int users = static_cast<int>(state.range(0));
    std::vector<std::unique_ptr<CMyRASSocket>> sockets;
    CUserConnections bound;
    for (int n = 0; n < users; ++n) {
        sockets.push_back(std::make_unique<CMyRASSocket>(nullptr));
        bound.Bind(*sockets.back(), Id(n));
    }
    const auto probes = Probes(users);
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(bound.Of(probes[i++ & 4095]).size());
    }
    for (auto& socket : sockets)
        bound.Unbind(*socket);
}
BENCHMARK(BM_FindUserConnections)->Arg(1000)->Arg(100000);

void BM_WorkerSnapshot(benchmark::State& state)
{
    const int users = static_cast<int>(state.range(0));
    CLog4c log;
    CChatServer service(log, [] { return false; });
    service.localServer.name = "hub";
    Register(service.localServer, users);
    std::vector<std::unique_ptr<CMyRASSocket>> sockets;
    std::mt19937 random(11);
    std::uniform_int_distribution<int> pick(0, users - 1);
    for (int n = 0; n < kLoggedIn; ++n) {
        sockets.push_back(std::make_unique<CMyRASSocket>(nullptr));
        service.BindUser(*sockets.back(), Id(pick(random)));
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(service.TakeSnapshot().loggedIn.size());
    }
    for (auto& socket : sockets)
        service.UnbindUser(*socket);
}
BENCHMARK(BM_WorkerSnapshot)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);

void BM_NextStoredMessageOfUser(benchmark::State& state)
{
    const int users = static_cast<int>(state.range(0));
    CPendingIndex pending;
    for (int n = 0; n < users; ++n)
        pending.Add(static_cast<std::uint32_t>(n), Id(n), "hub", {static_cast<std::uint32_t>(n) * 200, 200});
    const auto probes = Probes(users);
    std::size_t i = 0;
    for (auto _ : state) {
        // Handed out, then back, so every probe finds its user's message.
        const auto record = pending.TakeFirstForUser(probes[i++ & 4095], "hub");
        pending.Release(*record);
    }
}
BENCHMARK(BM_NextStoredMessageOfUser)->Arg(1000)->Arg(100000);

// The copy of the registry the loop hands to the directory file's writer
// at each save: the records only, without building the copy's index. It
// grows with the users (about 10 ms at 10^5 on the development machine,
// 18 ms with the index).
void BM_DirectorySnapshot(benchmark::State& state)
{
    const int users = static_cast<int>(state.range(0));
    CTalkerServer server;
    Register(server, users);
    quorvel::directory::CServerXml::ServerList none;
    for (auto _ : state) {
        auto snapshot = quorvel::directory::CDirectoryWriter::TakeSnapshot(server, none, none);
        benchmark::DoNotOptimize(snapshot);
        // The writer thread frees the copy, not the loop.
        state.PauseTiming();
        snapshot.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_DirectorySnapshot)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
