#include "quorvel_store/CMsgSendThread.h"

#include "quorvel_store/CDeliveryTarget.h"

#include "corvane/CEventLoop.h"
#include "marlune/Marlune.h"
#include "scrivlet/CLog4c.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

namespace quorvel::store {

using corvane::CMyThreadBase;
using marlune::CMessageBase;
using marlune::CXmlMsg;
using scrivlet::CLog4c;

namespace {

// Cycles start at most once a second.
constexpr std::chrono::milliseconds kCyclePeriod{1000};
// How often, in the rest of a cycle's second, the worker looks whether users
// backed up have drained.
constexpr std::chrono::milliseconds kDrainPoll{5};
constexpr std::chrono::seconds kFailurePause{2};

} // namespace

CMsgSendThread::CMsgSendThread(CLog4c& log)
    : log_(log), cache_(log), ledger_(std::make_shared<CDeliveryLedger>(cache_, log)),
      router_(log, cache_, [this](const std::string& bytes, std::uint32_t record) { return ParseStored(bytes, record); })
{
    // The routing thread, constructed last, made itself the current worker.
    InitInstance();
}

CMsgSendThread::~CMsgSendThread()
{
    StopService();
    ledger_->Detach();
}

int CMsgSendThread::InitThread(CDeliveryTarget* service, const std::string& directory)
{
    try {
        if (IsRunning())
            StopService();
        InitInstance();
        link_ = std::make_shared<Link>();
        link_->service.store(service);
        loop_ = service ? &service->ServiceLoop() : nullptr;
        router_.Bind(service ? CMsgRouteThread::SnapshotSource([this](std::stop_token stop) { return Snapshot(stop); })
                             : nullptr);
        const int opened = cache_.OpenCache(directory);
        if (opened)
            log_.LogEvent(0, "检索到待发消息共 %d 条", cache_.ScannedPending());
        return opened;
    } catch (const std::exception&) {
        return 0;
    }
}

int CMsgSendThread::StartService()
{
    InitInstance();
    const int result = CMyThreadBase::StartService();
    if (result == 1)
        router_.StartService();
    InitInstance();
    return result;
}

int CMsgSendThread::StopService()
{
    // The base stops only the process's current worker; a stop always means
    // this one (tests run several workers, one per service).
    InitInstance();
    const int result = CMyThreadBase::StopService();
    router_.StopService();
    InitInstance();
    WaitForThread();
    if (link_)
        link_->service.store(nullptr);
    return result;
}

bool CMsgSendThread::CacheMsg(const CMessageBase& message, const char* bytes, std::size_t length)
{
    return cache_.AddMsg(bytes, length, message.DetachSourceUserId(), message.DetachSourceServerName(),
                         message.DetachTargetUserId(), message.DetachTargetServerName()) == 1;
}

CMsgSendThread::MsgStore CMsgSendThread::Store()
{
    return [this](const CMessageBase& message, const char* bytes, std::size_t length) {
        return CacheMsg(message, bytes, length);
    };
}

void CMsgSendThread::RunCycle()
{
    // A cycle that fails (a file error, memory) must not end the worker
    // quietly: it is logged and the next cycle comes after a back-off.
    const auto started = std::chrono::steady_clock::now();
    try {
        DeliverAll(started);
    } catch (const std::exception& e) {
        BackOff(e.what());
        return;
    } catch (...) {
        BackOff("unknown exception");
        return;
    }
    SleepFor(std::chrono::ceil<std::chrono::milliseconds>(started + kCyclePeriod - std::chrono::steady_clock::now()));
}

void CMsgSendThread::BackOff(const char* reason)
{
    log_.LogEvent(2, "消息发送线程异常:%s,%d 秒后继续", std::string(reason).substr(0, 200).c_str(),
                  static_cast<int>(kFailurePause.count()));
    SleepFor(kFailurePause);
}

void CMsgSendThread::DeliverAll(std::chrono::steady_clock::time_point started)
{
    ++cycle_;
    const auto snapshot = Snapshot(StopToken(), cycle_);
    if (!snapshot)
        return;
    std::vector<const User*> users;
    for (const auto& user : snapshot->loggedIn)
        users.push_back(&user);
    counters_ = snapshot->counters;
    auto backedUp = Pass(users);
    if (counters_)
        counters_->SetWorkerCycle(
            std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started));
    // Users held back only by what their connections have not written yet
    // get the rest of the cycle's second: their delivery goes on as they
    // read, instead of waiting for the next cycle.
    const auto end = started + kCyclePeriod - kDrainPoll;
    while (!backedUp.empty() && std::chrono::steady_clock::now() < end && SleepFor(kDrainPoll)) {
        std::vector<const User*> drained;
        std::erase_if(backedUp, [&](const User* user) {
            if (!Drained(*user))
                return false;
            drained.push_back(user);
            return true;
        });
        for (const User* user : Pass(drained))
            backedUp.push_back(user);
    }
}

bool CMsgSendThread::Drained(const User& user) const
{
    return loop_->Call(
               [link = link_, ledger = ledger_, userId = user.userId, serverName = user.serverName] {
                   CDeliveryTarget* service = link->service.load();
                   return service != nullptr && ledger->Drained(*service, userId, serverName);
               },
               StopToken())
        .value_or(false);
}

std::optional<CServiceSnapshot> CMsgSendThread::Snapshot(std::stop_token stop, std::uint64_t cycle) const
{
    if (loop_ == nullptr)
        return std::nullopt;
    auto snapshot = loop_->Call(
        [link = link_, ledger = ledger_, cycle]() -> std::optional<CServiceSnapshot> {
            CDeliveryTarget* service = link->service.load();
            if (service == nullptr)
                return std::nullopt;
            if (cycle != 0)
                ledger->BeginCycle(cycle);
            return service->TakeSnapshot();
        },
        std::move(stop));
    if (!snapshot)
        return std::nullopt;
    return std::move(*snapshot);
}

std::vector<const CMsgSendThread::User*> CMsgSendThread::Pass(const std::vector<const User*>& users)
{
    std::vector<const User*> backedUp;
    std::unordered_set<const User*> stopped;
    // Users one of whose batches was all handed over in this pass.
    std::unordered_set<const User*> flowing;
    // Two batches take turns: while the loop offers one, the worker reads
    // and parses the next. A user the batch on the loop stopped loses its
    // messages in the next one before that is posted, so nothing overtakes
    // the message that stopped it.
    CDeliveryBatch first(cache_, kBatchMessages, kBatchBytes);
    CDeliveryBatch second(cache_, kBatchMessages, kBatchBytes);
    CDeliveryBatch* filling = &first;
    CDeliveryBatch* onLoop = &second;
    const CDeliveryBatch::Offerer offer = Offerer();
    const auto settle = [&] {
        const User* last = onLoop->LastUserOnLoop();
        for (const auto& [user, verdict] : onLoop->Await()) {
            stopped.insert(user);
            if (verdict == CDeliveryLedger::Offer::kBackedUp)
                backedUp.push_back(user);
        }
        if (last != nullptr && stopped.count(last) == 0)
            flowing.insert(last);
    };
    const auto deliver = [&] {
        settle();
        filling->DropUsers(stopped);
        if (filling->Empty() || StopRequested())
            return;
        filling->Post(*loop_, offer, StopToken());
        std::swap(filling, onLoop);
    };
    for (const User* user : users) {
        // A user with more than the batch holds continues in the next one,
        // unless an earlier batch stopped the user. The worker reads a user's
        // messages ahead of the batch on the loop only once the user took a
        // whole batch: a user backed up or held back at the first offer of
        // the pass (a slow reader, each time it drains a little) would
        // otherwise have a batch read and parsed for nothing every time.
        while (!StopRequested() && stopped.count(user) == 0) {
            if (onLoop->LastUserOnLoop() == user && flowing.count(user) == 0) {
                settle();
                continue;
            }
            if (!TakeBatch(*user, *filling))
                break;
            deliver();
        }
    }
    deliver();
    settle();
    return backedUp;
}

bool CMsgSendThread::TakeBatch(const User& user, CDeliveryBatch& batch)
{
    std::vector<CMsgCache::StoredMsg> stored;
    while (!StopRequested()) {
        if (batch.Full())
            return true;
        stored.clear();
        if (!cache_.GetUserMsgs(stored, user.userId, user.serverName, batch.RoomMessages(), batch.RoomBytes()))
            return false;
        std::size_t taken = 0;
        try {
            for (; taken < stored.size(); ++taken) {
                const auto& [record, bytes] = stored[taken];
                auto message = ParseStored(bytes, record);
                if (!message)
                    continue;
                const std::string time = message->time;
                batch.Add({&user, std::move(message), {record, bytes.size(), time, user.userId, user.serverName}});
            }
        } catch (...) {
            // The records not in the batch yet go back to pending too.
            for (; taken < stored.size(); ++taken)
                cache_.ReleaseMsg(stored[taken].record);
            throw;
        }
    }
    return false;
}

std::unique_ptr<CMessageBase> CMsgSendThread::ParseStored(const std::string& bytes, std::uint32_t record)
{
    CMessageBase head(nullptr);
    CXmlMsg codec;
    auto message = codec.ParseXmlNew(bytes.data(), bytes.size(), &head);
    if (!message) {
        // A damaged record would hold back every message behind it for good.
        log_.LogEvent(0, "缓存消息无法解析,已标记为已发送:记录:%u 长度:%d %s", static_cast<unsigned>(record),
                      static_cast<int>(bytes.size()), codec.LastError().c_str());
        cache_.SetMsgSent(record);
    }
    return message;
}

CDeliveryBatch::Offerer CMsgSendThread::Offerer() const
{
    using Offer = CDeliveryLedger::Offer;
    return [link = link_, ledger = ledger_, cycle = cycle_, counters = counters_](
               std::vector<CDeliveryBatch::Item>& items, CDeliveryBatch::Stops& stops) {
        CDeliveryTarget* service = link->service.load();
        if (service == nullptr)
            return;
        for (auto& item : items) {
            // Once one of a user's messages is not handed over, none of the
            // user's later ones is offered in this batch.
            if (std::any_of(stops.begin(), stops.end(), [&](const auto& stop) { return stop.first == item.user; }))
                continue;
            const Offer offer = ledger->Hand(*service, *item.message, item.pending, cycle, counters);
            // Held back or backed up: not offered, the record stays with
            // the batch.
            item.given = offer == Offer::kHandedOver || offer == Offer::kNotDelivered;
            if (offer != Offer::kHandedOver)
                stops.emplace_back(item.user, offer);
        }
    };
}

} // namespace quorvel::store
