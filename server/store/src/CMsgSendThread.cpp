#include "quorvel_store/CMsgSendThread.h"

#include "quorvel_store/CDeliveryTarget.h"

#include "corvane/CEventLoop.h"
#include "marlune/Marlune.h"
#include "scrivlet/CLog4c.h"

#include <chrono>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr std::chrono::milliseconds kCyclePause{1000};
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
    try {
        DeliverAll();
    } catch (const std::exception& e) {
        BackOff(e.what());
        return;
    } catch (...) {
        BackOff("unknown exception");
        return;
    }
    SleepFor(kCyclePause);
}

void CMsgSendThread::BackOff(const char* reason)
{
    log_.LogEvent(2, "消息发送线程异常:%s,%d 秒后继续", std::string(reason).substr(0, 200).c_str(),
                  static_cast<int>(kFailurePause.count()));
    SleepFor(kFailurePause);
}

void CMsgSendThread::DeliverAll()
{
    if (const auto snapshot = Snapshot(StopToken())) {
        const auto started = std::chrono::steady_clock::now();
        ++cycle_;
        counters_ = snapshot->counters;
        for (const auto& user : snapshot->loggedIn) {
            if (StopRequested())
                break;
            SendUserMsgs(user);
        }
        if (counters_)
            counters_->SetWorkerCycle(
                std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started));
    }
}

std::optional<CServiceSnapshot> CMsgSendThread::Snapshot(std::stop_token stop) const
{
    if (loop_ == nullptr)
        return std::nullopt;
    auto snapshot = loop_->Call(
        [link = link_]() -> std::optional<CServiceSnapshot> {
            CDeliveryTarget* service = link->service.load();
            if (service == nullptr)
                return std::nullopt;
            return service->TakeSnapshot();
        },
        std::move(stop));
    if (!snapshot)
        return std::nullopt;
    return std::move(*snapshot);
}

// Records taken from the cache for one hand-over, parsed. Whatever the
// ledger was not given goes back to pending when the batch ends, however it
// ends (a stop, an exception): a record left handed out would never be
// offered again, and the user's later messages would wait behind it for
// good. The ledger settles what it was given.
class CMsgSendThread::Batch {
public:
    struct Item {
        std::unique_ptr<CMessageBase> message;
        CDeliveryLedger::Pending pending;
    };

    explicit Batch(CMsgCache& cache) : cache_(cache) {}
    ~Batch()
    {
        for (std::size_t i = given_; i < items_.size(); ++i)
            cache_.ReleaseMsg(items_[i].pending.record);
    }
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

    std::vector<Item>& Items() { return items_; }
    // The ledger took the first `count` items (it settles them).
    void Given(std::size_t count) { given_ = count; }

private:
    CMsgCache& cache_;
    std::vector<Item> items_;
    std::size_t given_ = 0;
};

void CMsgSendThread::SendUserMsgs(const CServiceSnapshot::LoggedInUser& user)
{
    while (!StopRequested()) {
        Batch batch(cache_);
        TakeBatch(user, batch);
        // Not all handed over: this user's later messages wait for the next
        // cycle.
        if (batch.Items().empty() || !DeliverOnLoop(batch))
            return;
    }
}

void CMsgSendThread::TakeBatch(const CServiceSnapshot::LoggedInUser& user, Batch& batch)
{
    std::size_t bytesTaken = 0;
    std::string bytes;
    std::uint32_t record = 0;
    auto& items = batch.Items();
    while (items.size() < kBatchMessages && bytesTaken < kBatchBytes && !StopRequested() &&
           cache_.GetUserMsg(bytes, record, user.userId, user.serverName)) {
        auto message = ParseStored(bytes, record);
        if (!message)
            continue;
        bytesTaken += bytes.size();
        const std::string time = message->time;
        items.push_back({std::move(message), {record, bytes.size(), time, user.userId, user.serverName}});
    }
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

bool CMsgSendThread::DeliverOnLoop(Batch& batch)
{
    // The job holds the messages: it may still run after the wait gave up,
    // and then offers nothing, since the batch releases its records.
    struct Job {
        std::mutex mutex;
        bool abandoned = false;
        std::vector<Batch::Item> items;
        std::size_t given = 0;      // items the ledger took
        std::size_t handedOver = 0; // of those, handed over
    };
    auto job = std::make_shared<Job>();
    job->items = std::move(batch.Items());
    loop_->Call(
        [link = link_, ledger = ledger_, job, cycle = cycle_, counters = counters_] {
            std::lock_guard lock(job->mutex);
            CDeliveryTarget* service = link->service.load();
            if (job->abandoned || service == nullptr)
                return;
            for (auto& item : job->items) {
                const auto offer = ledger->Hand(*service, *item.message, item.pending, cycle, counters);
                // Held back: not offered, the record stays with the batch.
                if (offer == CDeliveryLedger::Offer::kHeldBack)
                    return;
                ++job->given;
                if (offer != CDeliveryLedger::Offer::kHandedOver)
                    return;
                ++job->handedOver;
            }
        },
        StopToken());
    // A job still queued finds this and leaves; one running is waited for
    // (the loop is not waiting for this thread while it runs a job).
    std::lock_guard lock(job->mutex);
    job->abandoned = true;
    batch.Items() = std::move(job->items);
    batch.Given(job->given);
    return job->handedOver == batch.Items().size();
}
