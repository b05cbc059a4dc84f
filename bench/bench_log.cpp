// Cost of one log line: time stamp, append, and the file write that every
// 256 KiB of lines brings, from one thread and from several at once.
#include "scrivlet/CLog4c.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>

using scrivlet::CLog4c;

namespace {

CLog4c* g_log = nullptr;

void BM_LogEventText(benchmark::State& state)
{
    for (auto _ : state)
        g_log->LogEvent("用户 alice@main 登录成功");
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LogEventText)->Threads(1)->Threads(2);

void BM_LogEventFormatted(benchmark::State& state)
{
    int n = 0;
    for (auto _ : state)
        g_log->LogEvent(0, "收到消息 %d 来自 %s", ++n, "alice@main");
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LogEventFormatted)->Threads(1)->Threads(2);

} // namespace

int main(int argc, char** argv)
{
    char pattern[] = "/tmp/bench_log_XXXXXX";
    if (!mkdtemp(pattern))
        return 1;
    {
        CLog4c log;
        log.InitInstance(pattern);
        g_log = &log;
        benchmark::Initialize(&argc, argv);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
        g_log = nullptr;
    }
    std::filesystem::remove_all(pattern);
    return 0;
}
