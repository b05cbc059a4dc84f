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

// Records taken from the cache for one hand-over, parsed, of one or more
// users, each user's in order. Whatever the ledger was not given goes back
// to pending when the batch is cleared or ends, however it ends (a stop, an
// exception): a record left handed out would never be offered again, and
// the user's later messages would wait behind it for good. The ledger
// settles what it was given.
class CMsgSendThread::Batch {
public:
    struct Item {
        const User* user = nullptr;
        std::unique_ptr<CMessageBase> message;
        CDeliveryLedger::Pending pending;
        bool given = false;  // the ledger took it
    };

    explicit Batch(CMsgCache& cache) : cache_(cache) {}
    ~Batch() { Clear(); }
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

    std::vector<Item>& Items() { return items_; }
    bool Full() const { return items_.size() >= kBatchMessages || bytes_ >= kBatchBytes; }
    // What may still be added before the batch is full.
    std::size_t RoomMessages() const { return Full() ? 0 : kBatchMessages - items_.size(); }
    std::size_t RoomBytes() const { return Full() ? 0 : kBatchBytes - bytes_; }
    void Add(Item item)
    {
        bytes_ += item.pending.length;
        items_.push_back(std::move(item));
    }
    void Clear()
    {
        for (const Item& item : items_)
            if (!item.given)
                cache_.ReleaseMsg(item.pending.record);
        items_.clear();
        bytes_ = 0;
    }

private:
    CMsgCache& cache_;
    std::vector<Item> items_;
    std::size_t bytes_ = 0;
};

std::vector<const CMsgSendThread::User*> CMsgSendThread::Pass(const std::vector<const User*>& users)
{
    std::vector<const User*> backedUp;
    std::unordered_set<const User*> stopped;
    Batch batch(cache_);
    const auto deliver = [&] {
        if (batch.Items().empty())
            return;
        for (const auto& [user, offer] : DeliverOnLoop(batch)) {
            stopped.insert(user);
            if (offer == CDeliveryLedger::Offer::kBackedUp)
                backedUp.push_back(user);
        }
        batch.Clear();
    };
    for (const User* user : users) {
        // A user with more than the batch holds continues in the next one,
        // unless the batch stopped the user.
        while (!StopRequested() && TakeBatch(*user, batch)) {
            deliver();
            if (stopped.count(user) != 0)
                break;
        }
    }
    if (!StopRequested())
        deliver();
    return backedUp;
}

bool CMsgSendThread::TakeBatch(const User& user, Batch& batch)
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

std::vector<std::pair<const CMsgSendThread::User*, CDeliveryLedger::Offer>> CMsgSendThread::DeliverOnLoop(Batch& batch)
{
    using Offer = CDeliveryLedger::Offer;
    // The job holds the messages: it may still run after the wait gave up,
    // and then offers nothing, since the batch releases its records.
    struct Job {
        std::mutex mutex;
        bool abandoned = false;
        bool ran = false;
        std::vector<Batch::Item> items;
        std::vector<std::pair<const User*, Offer>> stops;  // users not all handed over, in order met
    };
    auto job = std::make_shared<Job>();
    job->items = std::move(batch.Items());
    loop_->Call(
        [link = link_, ledger = ledger_, job, cycle = cycle_, counters = counters_] {
            std::lock_guard lock(job->mutex);
            CDeliveryTarget* service = link->service.load();
            if (job->abandoned || service == nullptr)
                return;
            job->ran = true;
            for (auto& item : job->items) {
                // Once one of a user's messages is not handed over, none of
                // the user's later ones is offered in this batch.
                const auto user = std::find_if(job->stops.begin(), job->stops.end(),
                                               [&](const auto& stop) { return stop.first == item.user; });
                if (user != job->stops.end())
                    continue;
                const Offer offer = ledger->Hand(*service, *item.message, item.pending, cycle, counters);
                // Held back or backed up: not offered, the record stays with
                // the batch.
                item.given = offer == Offer::kHandedOver || offer == Offer::kNotDelivered;
                if (offer != Offer::kHandedOver)
                    job->stops.emplace_back(item.user, offer);
            }
        },
        StopToken());
    // A job still queued finds this and leaves; one running is waited for
    // (the loop is not waiting for this thread while it runs a job).
    std::lock_guard lock(job->mutex);
    job->abandoned = true;
    batch.Items() = std::move(job->items);
    if (!job->ran) {
        // Nothing offered: every user of the batch stops here.
        for (const auto& item : batch.Items())
            if (std::none_of(job->stops.begin(), job->stops.end(), [&](const auto& stop) { return stop.first == item.user; }))
                job->stops.emplace_back(item.user, Offer::kHeldBack);
    }
    return std::move(job->stops);
}

} // namespace quorvel::store
