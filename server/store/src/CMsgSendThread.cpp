#include "quorvel_store/CMsgSendThread.h"

#include "quorvel_store/CDeliveryTarget.h"

#include "corvane/CEventLoop.h"
#include "marlune/Marlune.h"
#include "scrivlet/CLog4c.h"

#include <chrono>
#include <exception>
#include <mutex>
#include <optional>
#include <string>

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

void CMsgSendThread::SendUserMsgs(const CServiceSnapshot::LoggedInUser& user)
{
    std::string bytes;
    std::uint32_t record = 0;
    while (!StopRequested() && cache_.GetUserMsg(bytes, record, user.userId, user.serverName)) {
        auto message = ParseStored(bytes, record);
        if (!message)
            continue;
        CDeliveryLedger::Pending pending{record, bytes.size(), message->time, user.userId, user.serverName};
        const auto offer = DeliverOnLoop(std::move(message), std::move(pending));
        if (offer == CDeliveryLedger::Offer::kHandedOver)
            continue;
        // Not delivered: this user's later messages wait for the next cycle.
        if (offer == CDeliveryLedger::Offer::kHeldBack)
            cache_.ReleaseMsg(record);
        return;
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

CDeliveryLedger::Offer CMsgSendThread::DeliverOnLoop(std::unique_ptr<CMessageBase> message,
                                                     CDeliveryLedger::Pending pending)
{
    // The job owns what it offers: it may still run after the wait gave up,
    // and then offers nothing, since the worker has released the record.
    struct Job {
        std::mutex mutex;
        bool abandoned = false;
        CDeliveryLedger::Offer offer = CDeliveryLedger::Offer::kHeldBack;
        std::unique_ptr<CMessageBase> message;
        CDeliveryLedger::Pending pending;
    };
    auto job = std::make_shared<Job>();
    job->message = std::move(message);
    job->pending = std::move(pending);
    loop_->Call(
        [link = link_, ledger = ledger_, job, cycle = cycle_, counters = counters_] {
            std::lock_guard lock(job->mutex);
            CDeliveryTarget* service = link->service.load();
            if (!job->abandoned && service != nullptr)
                job->offer = ledger->Hand(*service, *job->message, job->pending, cycle, counters);
        },
        StopToken());
    // A job still queued finds this and leaves; one running is waited for
    // (the loop is not waiting for this thread while it runs a job).
    std::lock_guard lock(job->mutex);
    job->abandoned = true;
    return job->offer;
}
