#include "CConnectionsScenario.h"

#include "CLoadReport.h"
#include "CProcessProbe.h"

namespace quorvel::load {

CLoadResult CConnectionsScenario::Run(CLoadContext& context)
{
    const auto& o = context.options;
    result_.scenario = "connections";
    result_.throughputWhat = "logins answered";
    result_.Parameter("users", std::to_string(o.users));
    result_.Parameter("idle seconds", CLoadReport::Format(o.seconds));
    const int pid = context.serverPid;
    if (pid == 0)
        result_.notes.push_back("no server process id (--pid): memory and worker time not measured");
    const std::uint64_t rssIdle = pid ? CProcessProbe::ResidentKb(pid).value_or(0) : 0;

    BeginClock();
    if (!StartFleet(context, o.users, 'k', std::chrono::seconds(600)))
        return result_;
    const double loginSeconds = std::chrono::duration<double>(Clock::now() - Epoch()).count();
    result_.Add("users", "users logged in", o.users, "");
    result_.Add("connect_login_per_s", "connects and logins per second", o.users / loginSeconds, "1/s");
    result_.latency = fleet_->LoginLatency();
    for (std::uint32_t i = 0; i < fleet_->Size(); ++i)
        result_.throughput.Add(fleet_->At(i).loginAnswer);

    // Idle: the connections stay open; the worker cycles once a second with
    // nothing pending. A second of settling first.
    fleet_->RunUntil([] { return false; }, Clock::now() + std::chrono::seconds(1));
    const auto cpuBefore = pid ? CProcessProbe::LowPriorityThreadsCpuMs(pid) : std::nullopt;
    const auto idleStart = Clock::now();
    fleet_->RunUntil([] { return false; },
                     idleStart + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(o.seconds)));
    const double idleSeconds = std::chrono::duration<double>(Clock::now() - idleStart).count();
    const auto cpuAfter = pid ? CProcessProbe::LowPriorityThreadsCpuMs(pid) : std::nullopt;
    const std::uint64_t rss = pid ? CProcessProbe::ResidentKb(pid).value_or(0) : 0;
    if (rssIdle != 0 && rss != 0) {
        result_.Add("rss_idle_mb", "server resident memory, idle", static_cast<double>(rssIdle) / 1024.0, "MB");
        result_.Add("rss_mb", "server resident memory, all connected", static_cast<double>(rss) / 1024.0, "MB");
        result_.Add("kb_per_conn", "memory per connection above idle",
                    (static_cast<double>(rss) - static_cast<double>(rssIdle)) / o.users, "kB");
    }
    if (cpuBefore && cpuAfter)
        result_.Add("worker_ms_per_cycle", "worker CPU per 1 s cycle, nothing pending",
                    (*cpuAfter - *cpuBefore) / idleSeconds, "ms");
    if (fleet_->Closed() != 0)
        result_.notes.push_back(std::to_string(fleet_->Closed()) + " connections were closed by the server");
    fleet_->CloseAll();
    return result_;
}

} // namespace quorvel::load
