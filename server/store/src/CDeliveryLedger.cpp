#include "quorvel_store/CDeliveryLedger.h"

#include "quorvel_store/CDeliveryReceipt.h"
#include "quorvel_store/CDeliveryTarget.h"
#include "quorvel_store/CMsgCache.h"
#include "quorvel_store/CStoreCounters.h"

#include "scrivlet/CLog4c.h"
#include "scrivlet/LogText.h"

#include <algorithm>
#include <exception>

namespace quorvel::store {

using marlune::CMessageBase;
using scrivlet::CLog4c;
using scrivlet::ErrorText;

namespace {

// Whether every connection of `now` is one of `before`.
bool Within(const std::vector<std::uint64_t>& now, const std::vector<std::uint64_t>& before)
{
    return std::all_of(now.begin(), now.end(),
                       [&](std::uint64_t serial) { return std::find(before.begin(), before.end(), serial) != before.end(); });
}

} // namespace

CDeliveryLedger::CDeliveryLedger(CMsgCache& cache, CLog4c& log) : cache_(&cache), log_(&log) {}

CDeliveryLedger::Offer CDeliveryLedger::Hand(CDeliveryTarget& service, CMessageBase& message, const Pending& pending,
                                             std::uint64_t cycle, std::shared_ptr<CStoreCounters> counters)
{
    cycle_ = cycle;
    const std::string key = Key(pending.userId, pending.serverName);
    auto found = users_.find(key);
    UserState* known = found != users_.end() ? &found->second : nullptr;
    if (known != nullptr && known->heldBackIn == cycle)
        return Offer::kHeldBack;
    CDeliveryTarget::UserLinks links = service.LinksOf(pending.userId);
    if (links.unwritten >= kUserBacklog || OutOfOrder(known, links.connections))
        return Offer::kBackedUp;
    UserState& user = known != nullptr ? *known : users_[key];
    if (user.unsettled == 0)
        user.connections = std::move(links.connections);
    ++user.unsettled;

    CDeliveryReceipt receipt([self = shared_from_this(), pending, counters = std::move(counters)](bool delivered) {
        if (delivered && counters)
            counters->CountDelivered();
        self->Settle(pending, delivered);
    });
    bool handled = false;
    try {
        handled = service.HandleMsgCache(&message, &receipt);
    } catch (const std::exception& error) {
        std::lock_guard lock(mutex_);
        if (log_ != nullptr)
            log_->LogEvent(ErrorText(error.what()).c_str());
    }
    receipt.Seal(handled);
    return handled ? Offer::kHandedOver : Offer::kNotDelivered;
}

bool CDeliveryLedger::Drained(const CDeliveryTarget& service, const std::string& userId,
                              const std::string& serverName) const
{
    const auto found = users_.find(Key(userId, serverName));
    const CDeliveryTarget::UserLinks links = service.LinksOf(userId);
    return links.unwritten <= kUserBacklog / 2 &&
           !OutOfOrder(found != users_.end() ? &found->second : nullptr, links.connections);
}

bool CDeliveryLedger::OutOfOrder(const UserState* user, const std::vector<std::uint64_t>& connections)
{
    return user != nullptr && user->unsettled > 0 && !Within(connections, user->connections);
}

void CDeliveryLedger::Settle(const Pending& pending, bool delivered)
{
    const std::string key = Key(pending.userId, pending.serverName);
    const bool holdBack = !Record(pending, delivered);
    auto found = users_.find(key);
    if (found == users_.end())
        return;
    UserState& user = found->second;
    --user.unsettled;
    if (holdBack)
        user.heldBackIn = cycle_;
    if (user.unsettled == 0 && user.heldBackIn != cycle_)
        users_.erase(found);
}

bool CDeliveryLedger::Record(const Pending& pending, bool delivered)
{
    std::lock_guard lock(mutex_);
    if (cache_ == nullptr)
        return false;
    if (!delivered) {
        cache_->ReleaseMsg(pending.record);
        return false;
    }
    // A mark that cannot be written leaves the record retired for this run
    // (the cache logs it); the user's deliveries back off to the next cycle.
    const bool marked = cache_->SetMsgSent(pending.record) == 1;
    log_->LogEvent(0, "已发送缓存消息,时间:%s 长度:%d 用户: %s@%s", pending.time.c_str(),
                   static_cast<int>(pending.length), pending.userId.c_str(), pending.serverName.c_str());
    return marked;
}

void CDeliveryLedger::Detach()
{
    std::lock_guard lock(mutex_);
    cache_ = nullptr;
    log_ = nullptr;
}

} // namespace quorvel::store
