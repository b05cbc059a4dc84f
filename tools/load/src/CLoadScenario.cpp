#include "CLoadScenario.h"

#include "CChatScenario.h"
#include "CConnectionsScenario.h"
#include "CLoginsScenario.h"
#include "COfflineScenario.h"
#include "CRelayScenario.h"

#include <quorvel_client/CClientIdentity.h>
#include <quorvel_client/CRequestBuilder.h>

namespace quorvel::load {

using marlune::CMessageBase;
using client::CClientIdentity;
using client::CRequestBuilder;

std::unique_ptr<CLoadScenario> CLoadScenario::Make(const std::string& name)
{
    if (name == "relay")
        return std::make_unique<CRelayScenario>();
    if (name == "chat")
        return std::make_unique<CChatScenario>();
    if (name == "offline")
        return std::make_unique<COfflineScenario>();
    if (name == "connections")
        return std::make_unique<CConnectionsScenario>();
    if (name == "logins")
        return std::make_unique<CLoginsScenario>();
    return nullptr;
}

void CLoadScenario::BeginClock()
{
    epoch_ = Clock::now();
    result_.throughput.Start(epoch_);
}

std::uint64_t CLoadScenario::NowMicros() const
{
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - epoch_).count());
}

std::string CLoadScenario::UserPrefix(const CLoadContext& context, char letter)
{
    if (!context.options.forceLogin)
        return "l";
    return std::string(1, letter) + context.runTag + "_";
}

bool CLoadScenario::StartFleet(CLoadContext& context, std::uint32_t count, char letter, std::chrono::seconds limit)
{
    fleet_ = std::make_unique<CLoadFleet>(context.io, context.server, context.options.forceLogin);
    fleet_->Add(count, UserPrefix(context, letter));
    const auto deadline = Clock::now() + limit;
    if (!fleet_->Connect(0, count, deadline)) {
        result_.notes.push_back("not every user could connect (" + std::to_string(fleet_->ConnectFailures()) +
                                " failed)");
        return false;
    }
    if (!fleet_->Login(0, count, deadline)) {
        result_.notes.push_back("not every user logged in (" + std::to_string(fleet_->LoginsRefused()) +
                                " refused)");
        return false;
    }
    addresses_.clear();
    for (std::uint32_t i = 0; i < count; ++i)
        addresses_.push_back(fleet_->Address(i));
    return true;
}

void CLoadScenario::MakeTemplates(const std::string& type)
{
    templates_.clear();
    for (std::uint32_t i = 0; i < fleet_->Size(); ++i) {
        CClientIdentity me;
        me.userId = fleet_->At(i).id;
        me.server = fleet_->ServerName();
        CRequestBuilder builder(me);
        std::unique_ptr<CMessageBase> message;
        if (type == "trans-file")
            message = builder.FileChunk(CLoadPayload::TargetPlaceholder(), "load.bin", 0, 0, "data",
                                        std::string(CLoadPayload::Placeholder()));
        else
            message = builder.Talk(CLoadPayload::TargetPlaceholder(), CLoadPayload::Placeholder());
        templates_.emplace_back(*message);
    }
}

void CLoadScenario::SendNumbered(std::uint32_t sender, std::uint32_t receiver, std::uint32_t count,
                                 std::uint64_t micros)
{
    batch_.clear();
    std::uint64_t& seq = streamSent_[COrderChecker::StreamKey(sender, receiver)];
    for (std::uint32_t k = 0; k < count; ++k) {
        scratch_.clear();
        templates_[sender].AppendTo(scratch_, addresses_[receiver], {sender, seq++, micros});
        CLoadConnection::AppendFrame(batch_, scratch_);
    }
    totalSent_ += count;
    fleet_->At(sender).connection->SendFramed(batch_);
}

long CLoadScenario::Arrival(std::uint32_t receiver, std::string_view payload, std::string_view type)
{
    CLoadPayload::Mark mark;
    if (CLoadPayload::TypeOf(payload) != type || !CLoadPayload::ReadMark(payload, mark) || mark.sender >= fleet_->Size())
        return -1;
    const auto now = Clock::now();
    const auto micros = static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(now - epoch_).count());
    checker_.Record(COrderChecker::StreamKey(mark.sender, receiver), mark.seq);
    result_.latency.Record(micros > mark.micros ? micros - mark.micros : 0);
    result_.throughput.Add(now);
    if (totalArrived_++ == 0)
        firstArrival_ = now;
    lastArrival_ = now;
    return static_cast<long>(mark.sender);
}

void CLoadScenario::FinishChecks()
{
    for (const auto& [stream, count] : streamSent_)
        checker_.Sent(stream, count);
    result_.checked = true;
    result_.passed = checker_.ExactlyOnceInOrder();
    result_.checkText = "sent " + std::to_string(totalSent_) + ", received " + std::to_string(checker_.Received()) +
                        ", missing " + std::to_string(checker_.Missing()) + ", duplicates " +
                        std::to_string(checker_.Duplicates()) + ", out of order " + std::to_string(checker_.Reordered()) +
                        ", unexpected " + std::to_string(checker_.Unexpected());
    result_.Add("sent", "messages sent", static_cast<double>(totalSent_), "");
    result_.Add("delivered", "messages delivered", static_cast<double>(checker_.Received()), "");
}

void CLoadScenario::AddLatencyMetrics(const std::string& what)
{
    const auto& h = result_.latency;
    result_.Add("p50_ms", what + " p50", static_cast<double>(h.Percentile(0.5)) / 1000.0, "ms");
    result_.Add("p99_ms", what + " p99", static_cast<double>(h.Percentile(0.99)) / 1000.0, "ms");
    result_.Add("max_ms", what + " max", static_cast<double>(h.Max()) / 1000.0, "ms");
}

} // namespace quorvel::load
