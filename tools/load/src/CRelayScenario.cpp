#include "CRelayScenario.h"

#include "CLoadReport.h"
#include "CLoopbackBaseline.h"
#include "CPacer.h"

#include <algorithm>

namespace quorvel::load {

CLoadResult CRelayScenario::Run(CLoadContext& context)
{
    const auto& o = context.options;
    result_.scenario = "relay";
    result_.Parameter("pairs", std::to_string(o.pairs));
    result_.Parameter("rate", o.rate > 0 ? std::to_string(static_cast<long>(o.rate)) + "/s" : "as fast as possible");
    result_.Parameter("seconds", CLoadReport::Format(o.seconds));
    if (o.rate == 0)
        result_.Parameter("window per sender", std::to_string(o.window));
    const std::uint32_t users = 2 * o.pairs;
    if (!StartFleet(context, users, 'r', std::chrono::seconds(120)))
        return result_;
    MakeTemplates("trans-file");
    sent_.assign(users, 0);
    arrived_.assign(users, 0);
    window_ = o.rate > 0 ? 0 : o.window;
    fleet_->OnMessage([this](std::uint32_t receiver, std::string_view payload) { OnMessage(receiver, payload); });

    BeginClock();
    sending_ = true;
    CPacer pacer(context.io, o.rate, [this](std::uint64_t count) { SendPaced(count); });
    if (o.rate > 0)
        pacer.Start();
    else
        for (std::uint32_t s = 0; s < users; ++s) {
            SendNumbered(s, Peer(s), window_, NowMicros());
            sent_[s] += window_;
        }
    const auto sendEnd = Epoch() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(o.seconds));
    fleet_->RunUntil([] { return false; }, sendEnd);
    sending_ = false;
    pacer.Stop();
    const std::uint64_t inWindow = totalArrived_;
    fleet_->RunUntil([this] { return totalArrived_ >= totalSent_; },
                     Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(o.drainSeconds)));

    result_.Add("msgs_per_s", "relayed messages per second", static_cast<double>(inWindow) / o.seconds, "msg/s");
    FinishChecks();
    AddLatencyMetrics("latency");
    if (fleet_->Closed() != 0)
        result_.notes.push_back(std::to_string(fleet_->Closed()) + " connections were closed by the server");
    fleet_->CloseAll();
    if (o.baseline) {
        const double limit = CLoopbackBaseline::Measure(2.0, 1);
        result_.Add("loopback_msgs_per_s", "loopback limit, 100 B, one send each", limit, "msg/s");
        result_.Add("ratio", "relay / loopback limit", limit > 0 ? static_cast<double>(inWindow) / o.seconds / limit : 0, "");
    }
    return result_;
}

void CRelayScenario::OnMessage(std::uint32_t receiver, std::string_view payload)
{
    const long sender = Arrival(receiver, payload, "trans-file");
    if (sender < 0)
        return;
    const auto s = static_cast<std::uint32_t>(sender);
    ++arrived_[s];
    // Top the window up once half of it has arrived, in one write.
    if (sending_ && window_ > 0 && sent_[s] - arrived_[s] <= window_ / 2) {
        const auto more = static_cast<std::uint32_t>(window_ - (sent_[s] - arrived_[s]));
        SendNumbered(s, Peer(s), more, NowMicros());
        sent_[s] += more;
    }
}

void CRelayScenario::SendPaced(std::uint64_t count)
{
    // The senders take turns, so each sends its share of the rate.
    const std::uint32_t users = fleet_->Size();
    const std::uint64_t micros = NowMicros();
    std::vector<std::uint32_t> due(users, 0);
    for (std::uint64_t k = 0; k < count; ++k) {
        ++due[nextSender_];
        nextSender_ = (nextSender_ + 1) % users;
    }
    for (std::uint32_t s = 0; s < users; ++s)
        if (due[s] > 0) {
            SendNumbered(s, Peer(s), due[s], micros);
            sent_[s] += due[s];
        }
}

} // namespace quorvel::load
