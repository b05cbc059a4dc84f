#include "CChatScenario.h"

#include "CLoadReport.h"
#include "CPacer.h"

namespace quorvel::load {

CLoadResult CChatScenario::Run(CLoadContext& context)
{
    const auto& o = context.options;
    result_.scenario = "chat";
    result_.Parameter("users", std::to_string(o.users));
    result_.Parameter("rate", CLoadReport::Format(o.rate) + "/s");
    result_.Parameter("seconds", CLoadReport::Format(o.seconds));
    if (o.users < 2 || o.rate <= 0) {
        result_.notes.push_back("chat needs at least 2 users and a rate");
        return result_;
    }
    if (!StartFleet(context, o.users, 'c', std::chrono::seconds(300)))
        return result_;
    MakeTemplates("user-talking");
    fleet_->OnMessage([this](std::uint32_t receiver, std::string_view payload) {
        Arrival(receiver, payload, "user-talking");
    });

    BeginClock();
    CPacer pacer(context.io, o.rate, [this](std::uint64_t count) { SendPaced(count); });
    pacer.Start();
    const auto sendEnd = Epoch() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(o.seconds));
    fleet_->RunUntil([] { return false; }, sendEnd);
    pacer.Stop();
    const auto drainEnd = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(o.drainSeconds));
    fleet_->RunUntil([this] { return totalArrived_ >= totalSent_; }, drainEnd);

    result_.Add("send_rate", "messages sent per second", static_cast<double>(totalSent_) / o.seconds, "msg/s");
    FinishChecks();
    AddLatencyMetrics("delivery latency");
    if (totalArrived_ > 0)
        result_.Add("last_after_s", "last delivery after sending stopped",
                    std::chrono::duration<double>(lastArrival_ - sendEnd).count(), "s");
    if (fleet_->Closed() != 0)
        result_.notes.push_back(std::to_string(fleet_->Closed()) + " connections were closed by the server");
    fleet_->CloseAll();
    return result_;
}

void CChatScenario::SendPaced(std::uint64_t count)
{
    const std::uint32_t users = fleet_->Size();
    std::uniform_int_distribution<std::uint32_t> other(0, users - 2);
    const std::uint64_t micros = NowMicros();
    for (std::uint64_t k = 0; k < count; ++k) {
        const std::uint32_t sender = nextSender_;
        nextSender_ = (nextSender_ + 1) % users;
        std::uint32_t target = other(random_);
        if (target >= sender)
            ++target;
        SendNumbered(sender, target, 1, micros);
    }
}

} // namespace quorvel::load
