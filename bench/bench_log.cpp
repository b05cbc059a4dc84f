// Cost of one log line: time stamp, append, and the file write that every
// 256 KiB of lines brings, from one thread and from several at once.
#include "quorvel_test_support/TempFolder.h"
#include "scrivlet/CLog4c.h"

#include <benchmark/benchmark.h>


using quorvel::testsupport::TempFolder;
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
    const TempFolder folder("bench_log");
    CLog4c log;
    log.InitInstance(folder.Path().string());
    g_log = &log;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_log = nullptr;
    return 0;
}
