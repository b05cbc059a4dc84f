#include "COfflineScenario.h"

#include <marlune/CXmlMsg.h>
#include <quorvel_client/CClientIdentity.h>
#include <quorvel_client/CRequestBuilder.h>

namespace quorvel::load {

using marlune::CXmlMsg;
using client::CClientIdentity;
using client::CRequestBuilder;

CLoadResult COfflineScenario::Run(CLoadContext& context)
{
    const auto& o = context.options;
    result_.scenario = "offline";
    result_.Parameter("messages", std::to_string(o.messages));
    result_.throughputWhat = "messages delivered after the login";
    // User 0 sends, user 1 receives; only the sender logs in first.
    fleet_ = std::make_unique<CLoadFleet>(context.io, context.server, context.options.forceLogin);
    fleet_->Add(2, UserPrefix(context, 'o'));
    const auto setupEnd = Clock::now() + std::chrono::seconds(30);
    if (!fleet_->Connect(0, 1, setupEnd) || !fleet_->Login(0, 1, setupEnd)) {
        result_.notes.push_back("the sender could not log in");
        return result_;
    }
    addresses_ = {fleet_->Address(0), fleet_->Address(1)};
    MakeTemplates("user-talking");

    bool synced = false;
    bool receiving = false;
    fleet_->OnMessage([&](std::uint32_t user, std::string_view payload) {
        if (user == 0 && CLoadPayload::TypeOf(payload) == "user-infor")
            synced = true;
        if (user == 1 && receiving)
            Arrival(user, payload, "user-talking");
    });
    BeginClock();
    // Marks carry time 0: the latency of each message is counted from the
    // target's login, when the clock starts again.
    constexpr std::uint32_t kBatch = 1000;
    for (std::uint32_t sent = 0; sent < o.messages; sent += kBatch)
        SendNumbered(0, 1, std::min(kBatch, o.messages - sent), 0);
    CClientIdentity me;
    me.userId = fleet_->At(0).id;
    me.server = fleet_->ServerName();
    auto query = CRequestBuilder(me).Infor(me.Address());
    fleet_->At(0).connection->Send(CXmlMsg().BuildBytes(*query));
    if (!fleet_->RunUntil([&] { return synced; }, Clock::now() + std::chrono::seconds(600))) {
        result_.notes.push_back("the server did not take the messages within 600 s");
        return result_;
    }
    const double storeSeconds = std::chrono::duration<double>(Clock::now() - Epoch()).count();

    // The login: the clock starts again, so latencies and the chart count
    // from the moment the login is sent.
    if (!fleet_->Connect(1, 1, Clock::now() + std::chrono::seconds(30))) {
        result_.notes.push_back("the target could not connect");
        return result_;
    }
    BeginClock();
    receiving = true;
    const auto loginAt = Clock::now();
    if (!fleet_->Login(1, 1, loginAt + std::chrono::seconds(30))) {
        result_.notes.push_back("the target could not log in");
        return result_;
    }
    const auto drainEnd = loginAt + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(o.drainSeconds));
    fleet_->RunUntil([this] { return totalArrived_ >= totalSent_; }, drainEnd);
    result_.Add("store_s", "time to send and store all", storeSeconds, "s");
    result_.Add("store_rate", "messages stored per second", static_cast<double>(o.messages) / storeSeconds, "msg/s");
    result_.Add("all_after_login_s", "all delivered after the login",
                totalArrived_ ? std::chrono::duration<double>(lastArrival_ - loginAt).count() : 0.0, "s");
    // The first delivery waits for the worker's next cycle (0 to 1 s after
    // the login); from there on the time is the delivery's own.
    result_.Add("first_after_login_s", "first delivered after the login",
                totalArrived_ ? std::chrono::duration<double>(firstArrival_ - loginAt).count() : 0.0, "s");
    result_.Add("first_to_last_s", "from the first delivery to the last",
                totalArrived_ ? std::chrono::duration<double>(lastArrival_ - firstArrival_).count() : 0.0, "s");
    FinishChecks();
    fleet_->CloseAll();
    return result_;
}

} // namespace quorvel::load
