// Message cache: lookups for one user on caches of growing history, the
// rate of appends of 200-byte messages, what a delivery costs the cache per
// message (handed out one at a time or in runs), and an opening that
// compacts.
#include "quorvel_store/CMsgCache.h"
#include "quorvel_store/MsgIndexLayout.h"
#include "quorvel_test_support/TempFolder.h"

#include <scrivlet/CLog4c.h>

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

using quorvel::store::CMsgCache;
using quorvel::store::MSG_INDEX;
using quorvel::store::MSG_INDEX_HEAD;
namespace MsgIndexLayout = quorvel::store::MsgIndexLayout;
using quorvel::testsupport::TempFolder;
using scrivlet::CLog4c;

namespace {

using namespace MsgIndexLayout;

const std::string kBody(200, 'x');
// The lookups measure long histories: no compaction at opening.
const CMsgCache::Limits kNoCompaction{std::uint64_t{1} << 40, std::uint64_t{1} << 32, 1000000};

// Fills `folder` with a cache of `records` messages of history spread over
// 1000 users, all sent except: record 0 (an offline user, so a scan from the
// first pending record would cover the whole file) and one record in the
// middle for "one-pending". "idle" has history but nothing pending.
// With `backlog` > 0, that many records spread evenly stay pending too (for
// "backlog").
void BuildHistory(const std::string& folder, std::uint32_t records, std::uint32_t backlog = 0)
{
    std::vector<std::uint8_t> index(RecordPosition(records));
    MSG_INDEX_HEAD{records, 0}.Encode(index.data());
    for (std::uint32_t n = 0; n < records; ++n) {
        MSG_INDEX record{"sender", "home", "user" + std::to_string(n % 1000), "home", 1,
                         static_cast<std::uint32_t>(n * kBody.size()), static_cast<std::uint32_t>(kBody.size())};
        if (n == 0)
            record = MSG_INDEX{"sender", "home", "offline", "home", 0, 0, static_cast<std::uint32_t>(kBody.size())};
        if (n == records / 2)
            record.targetUser = "one-pending", record.sent = 0;
        if (n % 1000 == 7)
            record.targetUser = "idle";
        if (backlog > 0 && n % (records / backlog) == 3)
            record.targetUser = "backlog", record.sent = 0;
        record.Encode(index.data() + RecordPosition(n));
    }
    std::ofstream(folder + "/msg_index.dat", std::ios::binary)
        .write(reinterpret_cast<const char*>(index.data()), static_cast<std::streamsize>(index.size()));
    std::ofstream data(folder + "/msg_data.dat", std::ios::binary);
    for (std::uint32_t n = 0; n < records; ++n)
        data << kBody;
}

struct OpenCache {
    TempFolder folder{"quorvel-bench"};
    const std::string path = folder.Path().string();
    CLog4c log;
    std::unique_ptr<CMsgCache> cache;
};

std::map<std::uint32_t, std::unique_ptr<OpenCache>>& Caches()
{
    static std::map<std::uint32_t, std::unique_ptr<OpenCache>> caches;
    return caches;
}

// One cache per size, built once and shared by the lookup benchmarks.
OpenCache& CacheWith(std::uint32_t records)
{
    auto& slot = Caches()[records];
    if (!slot) {
        slot = std::make_unique<OpenCache>();
        BuildHistory(slot->path, records);
        slot->cache = std::make_unique<CMsgCache>(slot->log);
        slot->cache->SetLimits(kNoCompaction);
        slot->cache->OpenCache(slot->path);
    }
    return *slot;
}

void LookUp(benchmark::State& state, const std::string& user, int expected)
{
    CMsgCache& cache = *CacheWith(static_cast<std::uint32_t>(state.range(0))).cache;
    std::string bytes;
    std::uint32_t record = 0;
    for (auto _ : state) {
        if (cache.GetUserMsg(bytes, record, user, "home") != expected)
            state.SkipWithError("unexpected lookup result");
        cache.ReleaseMsg(record);
        benchmark::DoNotOptimize(bytes.data());
    }
}

void BM_GetUserMsgNothingPending(benchmark::State& state)
{
    LookUp(state, "idle", 0);
}

void BM_GetUserMsgOnePending(benchmark::State& state)
{
    LookUp(state, "one-pending", 1);
}

// Opening scans the whole index once and builds the pending records.
void BM_OpenCache(benchmark::State& state)
{
    OpenCache& shared = CacheWith(static_cast<std::uint32_t>(state.range(0)));
    shared.cache->CloseCache(); // the files admit one opener at a time
    CLog4c log;
    for (auto _ : state) {
        CMsgCache cache(log);
        cache.SetLimits(kNoCompaction);
        cache.OpenCache(shared.path);
        benchmark::DoNotOptimize(cache.ScannedPending());
    }
    shared.cache->OpenCache(shared.path);
}

// An opening that finds range(0) records of which range(1) are pending and
// compacts them (a threshold of 16 MiB; the data file holds 200 bytes each).
void BM_OpenCacheCompacting(benchmark::State& state)
{
    const auto records = static_cast<std::uint32_t>(state.range(0));
    const auto backlog = static_cast<std::uint32_t>(state.range(1));
    CLog4c log;
    for (auto _ : state) {
        state.PauseTiming();
        auto made = std::make_unique<TempFolder>("quorvel-bench");
        const std::string folder = made->Path().string();
        BuildHistory(folder, records, backlog);
        state.ResumeTiming();
        {
            CMsgCache cache(log);
            cache.SetLimits(CMsgCache::Limits{16 << 20, std::uint64_t{1} << 32, 1000000});
            cache.OpenCache(folder);
            if (cache.CountPending() > static_cast<int>(backlog) + 2 ||
                std::filesystem::file_size(folder + "/msg_data.dat") >= std::uint64_t{records} * kBody.size())
                state.SkipWithError("not compacted");
        }
        state.PauseTiming();
        made.reset();
        state.ResumeTiming();
    }
}

void BM_AddMsg200Bytes(benchmark::State& state)
{
    const TempFolder made("quorvel-bench");
    const std::string folder = made.Path().string();
    CLog4c log;
    {
        CMsgCache cache(log);
        cache.OpenCache(folder);
        for (auto _ : state) {
            if (!cache.AddMsg(kBody.data(), kBody.size(), "alice", "home", "bob", "home"))
                state.SkipWithError("append refused");
        }
        state.SetItemsProcessed(state.iterations());
        state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kBody.size()));
    }
}

// Storing `count` 200-byte messages for bob.
void StoreForBob(CMsgCache& cache, std::int64_t count)
{
    for (std::int64_t i = 0; i < count; ++i)
        cache.AddMsg(kBody.data(), kBody.size(), "alice", "home", "bob", "home");
}

// A cache in a folder of its own holding `count` messages for bob, with
// compaction off so the backlog stays where it was written.
struct BobsBacklog {
    explicit BobsBacklog(std::int64_t count) : cache(log)
    {
        cache.SetLimits(kNoCompaction);
        cache.OpenCache(made.Path().string());
        StoreForBob(cache, count);
    }
    const TempFolder made{"quorvel-bench"};
    CLog4c log;
    CMsgCache cache;
};

// What a delivery costs the cache per message: the hand-out with its read,
// then the sent mark, with a backlog of state.range(0) messages (refilled
// off the clock when it runs out).
void BM_HandOutAndMarkSent(benchmark::State& state)
{
    BobsBacklog backlog(state.range(0));
    CMsgCache& cache = backlog.cache;
    std::string bytes;
    std::uint32_t record = 0;
    for (auto _ : state) {
        if (!cache.GetUserMsg(bytes, record, "bob", "home")) {
            state.PauseTiming();
            StoreForBob(cache, state.range(0));
            state.ResumeTiming();
            cache.GetUserMsg(bytes, record, "bob", "home");
        }
        if (cache.SetMsgSent(record) != 1)
            state.SkipWithError("mark refused");
    }
    state.SetItemsProcessed(state.iterations());
}

// The same with the messages handed out 256 at a time, as the delivery
// worker takes them: the backlog lies back to back, one read per run.
void BM_HandOutRunsAndMarkSent(benchmark::State& state)
{
    BobsBacklog backlog(state.range(0));
    CMsgCache& cache = backlog.cache;
    std::vector<CMsgCache::StoredMsg> stored;
    std::int64_t messages = 0;
    for (auto _ : state) {
        stored.clear();
        if (!cache.GetUserMsgs(stored, "bob", "home", 256, 1 << 20)) {
            state.PauseTiming();
            StoreForBob(cache, state.range(0));
            state.ResumeTiming();
            cache.GetUserMsgs(stored, "bob", "home", 256, 1 << 20);
        }
        for (const auto& message : stored)
            if (cache.SetMsgSent(message.record) != 1)
                state.SkipWithError("mark refused");
        messages += static_cast<std::int64_t>(stored.size());
    }
    state.SetItemsProcessed(messages);
}

} // namespace

BENCHMARK(BM_GetUserMsgNothingPending)->Arg(1000)->Arg(100000)->Arg(1000000);
BENCHMARK(BM_GetUserMsgOnePending)->Arg(1000)->Arg(100000)->Arg(1000000);
BENCHMARK(BM_OpenCache)->Arg(1000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AddMsg200Bytes);
BENCHMARK(BM_HandOutAndMarkSent)->Arg(1000)->Arg(100000);
BENCHMARK(BM_HandOutRunsAndMarkSent)->Arg(100000);
BENCHMARK(BM_OpenCacheCompacting)
    ->Args({100000, 1000})
    ->Args({1000000, 1000})
    ->Args({1000000, 50000})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    Caches().clear();
    return 0;
}
