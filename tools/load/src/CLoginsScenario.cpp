#include "CLoginsScenario.h"

#include "CLoadReport.h"

namespace quorvel::load {

CLoadResult CLoginsScenario::Run(CLoadContext& context)
{
    const auto& o = context.options;
    result_.scenario = "logins";
    result_.throughputWhat = "logins answered";
    result_.Parameter("users", std::to_string(o.users));
    result_.Parameter("login", o.forceLogin ? "forced (no friends notified)" : "password");
    if (!o.forceLogin)
        result_.Parameter("friends each", std::to_string(o.friends));
    fleet_ = std::make_unique<CLoadFleet>(context.io, context.server, o.forceLogin);
    fleet_->Add(o.users, UserPrefix(context, 'g'));
    if (!fleet_->Connect(0, o.users, Clock::now() + std::chrono::seconds(300))) {
        result_.notes.push_back("not every user could connect");
        return result_;
    }
    BeginClock();
    const bool all = fleet_->Login(0, o.users, Clock::now() + std::chrono::seconds(300));
    const double seconds = std::chrono::duration<double>(Clock::now() - Epoch()).count();
    if (!all)
        result_.notes.push_back("not every login succeeded (" + std::to_string(fleet_->LoginsRefused()) + " refused)");
    for (std::uint32_t i = 0; i < o.users; ++i)
        if (fleet_->At(i).loginAnswered)
            result_.throughput.Add(fleet_->At(i).loginAnswer);
    const auto noticesAtEnd = fleet_->StatusNotices();
    // Notices still on their way.
    fleet_->RunUntil([] { return false; }, Clock::now() + std::chrono::milliseconds(500));
    result_.Add("logins_per_s", "logins per second", o.users / seconds, "1/s");
    result_.Add("notices", "friend notices received", static_cast<double>(fleet_->StatusNotices()), "");
    result_.Add("notices_during", "of them during the logins", static_cast<double>(noticesAtEnd), "");
    result_.latency = fleet_->LoginLatency();
    AddLatencyMetrics("login answer");
    fleet_->CloseAll();
    return result_;
}

} // namespace quorvel::load
