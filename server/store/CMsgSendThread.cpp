#include "CMsgSendThread.h"

#include "CServerFederation.h"

#include "corvane/CEventLoop.h"
#include "marlune/Marlune.h"
#include "scrivlet/CLog4c.h"

#include <chrono>
#include <exception>
#include <mutex>
#include <optional>
#include <vector>

namespace {

constexpr std::chrono::milliseconds kCyclePause{1000};
// Messages handed to the loop at once: enough to make the hand-over cheap,
// few enough that the loop's other work waits only briefly.
constexpr std::size_t kDeliveryBatch = 64;

} // namespace

CMsgSendThread::CMsgSendThread(CLog4c& log) : log_(log), cache_(log) {}

CMsgSendThread::~CMsgSendThread()
{
    StopService();
}

int CMsgSendThread::InitThread(CChatServer* service, const std::string& directory)
{
    try {
        if (IsRunning())
            StopService();
        InitInstance();
        link_ = std::make_shared<Link>();
        link_->service.store(service);
        loop_ = service ? &service->Loop() : nullptr;
        const int opened = cache_.OpenCache(directory);
        if (opened)
            log_.LogEvent(0, "检索到待发消息共 %d 条", cache_.ScannedPending());
        return opened;
    } catch (const std::exception&) {
        return 0;
    }
}

int CMsgSendThread::StopService()
{
    // The base stops only the process's current worker; a stop always means
    // this one (tests run several workers, one per service).
    InitInstance();
    const int result = CMyThreadBase::StopService();
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

CChatServer::MsgStore CMsgSendThread::Store()
{
    return [this](const CMessageBase& message, const char* bytes, std::size_t length) {
        return CacheMsg(message, bytes, length);
    };
}

void CMsgSendThread::RunCycle()
{
    if (loop_ != nullptr) {
        auto snapshot = loop_->Call(
            [link = link_]() -> std::optional<CServiceSnapshot> {
                CChatServer* service = link->service.load();
                if (service == nullptr)
                    return std::nullopt;
                return service->TakeSnapshot();
            },
            StopToken());
        if (snapshot && *snapshot) {
            for (const auto& user : (*snapshot)->loggedIn) {
                if (StopRequested())
                    break;
                SendUserMsgs(user);
            }
            SendRouteMsgs(**snapshot);
        }
    }
    SleepFor(kCyclePause);
}

void CMsgSendThread::SendUserMsgs(const CServiceSnapshot::LoggedInUser& user)
{
    // The user's messages go to the loop a batch at a time: one hand-over
    // (and one wait) per batch rather than per message. On the loop each is
    // delivered and, when delivered, marked sent and logged at once, in
    // order, up to the first that is not delivered: what one message at a
    // time would do, with the same single message between a delivery and its
    // mark should the process die.
    for (;;) {
        std::vector<Pending> batch = ReadBatch(user);
        if (batch.empty())
            return;
        const std::size_t size = batch.size();
        if (DeliverOnLoop(std::move(batch), user) < size)
            return;
    }
}

std::vector<CMsgSendThread::Pending> CMsgSendThread::ReadBatch(const CServiceSnapshot::LoggedInUser& user)
{
    std::vector<Pending> batch;
    std::string bytes;
    std::uint32_t record = 0;
    bool found = !StopRequested() && cache_.GetUserMsg(bytes, record, user.userId, user.serverName);
    while (found && batch.size() < kDeliveryBatch) {
        if (auto message = ParseStored(bytes, record)) {
            const std::string time = message->time;
            batch.push_back({record, bytes.size(), time, std::move(message)});
        }
        found = cache_.GetNextUserMsg(bytes, record, user.userId, user.serverName, record);
    }
    return batch;
}

void CMsgSendThread::SendRouteMsgs(const CServiceSnapshot& snapshot)
{
    std::string bytes;
    std::uint32_t record = 0;
    while (!StopRequested() && cache_.GetRouteMsg(bytes, record, snapshot.localName)) {
        auto message = ParseStored(bytes, record);
        if (!message)
            continue;
        if (!CServerFederation::RouteMessage(log_, snapshot, *message))
            return;
        cache_.SetMsgSent(record);
        log_.LogEvent(0, "已发送路由消息,时间:%s source:%s target:%s ", message->time.c_str(),
                      message->source.c_str(), message->target.c_str());
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

std::size_t CMsgSendThread::DeliverOnLoop(std::vector<Pending> batch, const CServiceSnapshot::LoggedInUser& user)
{
    // The job owns the messages: it may still run after the wait gave up,
    // and then does nothing, since this worker may be gone by then.
    struct Job {
        std::mutex mutex;
        bool abandoned = false;
        std::vector<Pending> batch;
    };
    auto job = std::make_shared<Job>();
    job->batch = std::move(batch);
    const auto delivered = loop_->Call(
        [this, link = link_, job, user]() -> std::size_t {
            std::lock_guard lock(job->mutex);
            CChatServer* service = link->service.load();
            std::size_t count = 0;
            for (auto& pending : job->batch) {
                if (job->abandoned || service == nullptr || !service->HandleMsgCache(pending.message.get()))
                    break;
                cache_.SetMsgSent(pending.record);
                log_.LogEvent(0, "已发送缓存消息,时间:%s 长度:%d 用户: %s@%s", pending.time.c_str(),
                              static_cast<int>(pending.length), user.userId.c_str(), user.serverName.c_str());
                ++count;
            }
            return count;
        },
        StopToken());
    // A job still queued finds this and leaves; one running is waited for
    // (the loop is not waiting for this thread while it runs a job).
    std::lock_guard lock(job->mutex);
    job->abandoned = true;
    return delivered.value_or(0);
}
