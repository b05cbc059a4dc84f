#include "CMsgSendThread.h"

#include "CServerFederation.h"

#include "corvane/CEventLoop.h"
#include "marlune/Marlune.h"
#include "scrivlet/CLog4c.h"

#include <chrono>
#include <exception>
#include <optional>
#include <string>

namespace {

constexpr std::chrono::milliseconds kCyclePause{1000};
constexpr std::chrono::seconds kFailurePause{2};

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
}

void CMsgSendThread::SendUserMsgs(const CServiceSnapshot::LoggedInUser& user)
{
    std::string bytes;
    std::uint32_t record = 0;
    while (!StopRequested() && cache_.GetUserMsg(bytes, record, user.userId, user.serverName)) {
        auto message = ParseStored(bytes, record);
        if (!message)
            continue;
        const std::string time = message->time;
        if (!DeliverOnLoop(std::move(message))) {
            cache_.ReleaseMsg(record);
            return;
        }
        const bool marked = cache_.SetMsgSent(record) == 1;
        log_.LogEvent(0, "已发送缓存消息,时间:%s 长度:%d 用户: %s@%s", time.c_str(), static_cast<int>(bytes.size()),
                      user.userId.c_str(), user.serverName.c_str());
        if (!marked)
            return;
    }
}

void CMsgSendThread::SendRouteMsgs(const CServiceSnapshot& snapshot)
{
    std::string bytes;
    std::uint32_t record = 0;
    while (!StopRequested() && cache_.GetRouteMsg(bytes, record, snapshot.localName)) {
        auto message = ParseStored(bytes, record);
        if (!message)
            continue;
        if (!CServerFederation::RouteMessage(log_, snapshot, *message)) {
            cache_.ReleaseMsg(record);
            return;
        }
        const bool marked = cache_.SetMsgSent(record) == 1;
        log_.LogEvent(0, "已发送路由消息,时间:%s source:%s target:%s ", message->time.c_str(),
                      message->source.c_str(), message->target.c_str());
        if (!marked)
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

bool CMsgSendThread::DeliverOnLoop(std::unique_ptr<CMessageBase> message)
{
    // The job owns the message: it may still run after the wait gave up.
    std::shared_ptr<CMessageBase> shared = std::move(message);
    const auto delivered = loop_->Call(
        [link = link_, shared] {
            CChatServer* service = link->service.load();
            return service != nullptr && service->HandleMsgCache(shared.get());
        },
        StopToken());
    return delivered.value_or(false);
}
