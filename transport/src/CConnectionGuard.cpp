#include "CConnectionGuard.h"

#include "CChannel.h"
#include "corvane/CEventLoop.h"
#include "corvane/CMyRASServer_Srv.h"
#include "corvane/CMyRASSocket.h"

#include <algorithm>
#include <vector>

namespace corvane {

namespace {

constexpr auto kLoginCheckInterval = std::chrono::seconds(1);
constexpr int kErrorLevel = 2;

} // namespace

CConnectionGuard::CConnectionGuard(CMyRASServer_Srv& server)
    : server_(&server), budget_(std::make_shared<CBufferBudget>(server.Loop())), timer_(server.Loop().Context())
{
    budget_->SetLimit(limits_.bufferBudgetBytes);
}

void CConnectionGuard::Start()
{
    budget_->SetEnforcer([weak = weak_from_this()] {
        if (auto self = weak.lock())
            self->MakeRoom();
    });
    ArmTimer();
}

void CConnectionGuard::Stop()
{
    budget_->SetEnforcer(nullptr);
    timer_.cancel();
    server_ = nullptr;
}

void CConnectionGuard::SetLimits(const CConnectionLimits& limits)
{
    limits_ = limits;
    budget_->SetLimit(limits.bufferBudgetBytes);
    if (server_ == nullptr)
        return;
    for (const auto& connection : server_->connections)
        connection->channel_->framesPerTurn = limits.framesPerTurn;
    budget_->MakeRoom();
}

bool CConnectionGuard::Admit(CMyRASSocket& socket)
{
    CChannel& channel = *socket.channel_;
    std::size_t& count = perAddress_[channel.peer];
    const std::size_t most = limits_.maxConnectionsPerAddress;
    if (most != 0 && count >= most) {
        if (server_ != nullptr)
            server_->LogLimit(RAS_LIMIT::kConnectionsPerAddress, kErrorLevel, channel.peer,
                              "来自 %s 的连接数已达上限 %zu，新连接被关闭", channel.peer.c_str(), most);
        return false;
    }
    ++count;
    channel.perAddressCounted = true;
    channel.framesPerTurn = limits_.framesPerTurn;
    channel.JoinBudget(budget_);
    return true;
}

void CConnectionGuard::Leave(CMyRASSocket& socket)
{
    CChannel& channel = *socket.channel_;
    if (!channel.perAddressCounted)
        return;
    channel.perAddressCounted = false;
    const auto found = perAddress_.find(channel.peer);
    if (found != perAddress_.end() && --found->second == 0)
        perAddress_.erase(found);
}

void CConnectionGuard::Clear()
{
    perAddress_.clear();
}

void CConnectionGuard::MakeRoom()
{
    const std::size_t limit = budget_->Limit();
    const std::size_t held = budget_->Held();
    if (server_ == nullptr || limit == 0 || held <= limit)
        return;
    // What closing connections hold is about to come back: only the rest
    // of the excess needs new victims.
    std::size_t excess = held - limit;
    std::vector<CMyRASSocket*> candidates;
    for (const auto& connection : server_->connections) {
        CChannel& channel = *connection->channel_;
        const std::size_t bytes = channel.Held();
        if (!channel.IsOpen() || channel.CloseRequested())
            excess -= std::min(excess, bytes);
        else if (bytes > 0)
            candidates.push_back(connection.get());
    }
    while (excess > 0 && !candidates.empty()) {
        auto most = std::max_element(candidates.begin(), candidates.end(), [](const auto* a, const auto* b) {
            return a->channel_->Held() < b->channel_->Held();
        });
        CMyRASSocket* victim = *most;
        candidates.erase(most);
        CChannel& channel = *victim->channel_;
        const std::size_t bytes = channel.Held();
        server_->LogLimit(RAS_LIMIT::kBufferBudget, kErrorLevel, channel.peer,
                          "缓存总量 %zu 字节超过上限 %zu 字节，关闭占用最多的连接 %s [%s]，占用 %zu 字节", held, limit,
                          channel.peer.c_str(), victim->userId, bytes);
        channel.RequestClose();
        channel.DropSendBuffers();
        excess -= std::min(excess, bytes);
    }
}

void CConnectionGuard::ArmTimer()
{
    timer_.expires_after(kLoginCheckInterval);
    timer_.async_wait([weak = weak_from_this()](const std::error_code& error) {
        auto self = weak.lock();
        if (error || !self || self->server_ == nullptr)
            return;
        self->CloseUnbound();
        self->ArmTimer();
    });
}

void CConnectionGuard::CloseUnbound()
{
    const auto limit = limits_.loginTimeout;
    if (limit.count() <= 0)
        return;
    const auto now = std::chrono::steady_clock::now();
    for (const auto& connection : server_->connections) {
        CChannel& channel = *connection->channel_;
        if (!connection->active || connection->userId[0] != '\0' || channel.admitted || now - channel.openedAt < limit ||
            channel.CloseRequested())
            continue;
        server_->LogLimit(RAS_LIMIT::kLoginTimeout, 0, channel.peer, "连接 %s 在 %lld 秒内未登录，已关闭", channel.peer.c_str(),
                          static_cast<long long>(limit.count()));
        channel.RequestClose();
    }
}

} // namespace corvane
