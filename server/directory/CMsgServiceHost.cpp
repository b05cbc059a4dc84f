#include "CMsgServiceHost.h"

#include "CChatServer.h"
#include "CMsgSendThread.h"
#include "CServerXml.h"
#include "MsgIndexLayout.h"
#include "scrivlet/CLog4c.h"

#include <atomic>

namespace {

// The log that ServiceLogEvent writes to: the transport's log callback is a
// plain function, so it reaches the log through this pointer.
std::atomic<CLog4c*> serviceLog{nullptr};

constexpr unsigned kPortCeiling = 100000;
constexpr int kError = 2;

} // namespace

CMsgServiceHost::CMsgServiceHost(CLog4c& log, CMsgSendThread& worker, Settings settings)
    : log_(log), worker_(worker), settings_(std::move(settings))
{
    serviceLog.store(&log_);
}

CMsgServiceHost::~CMsgServiceHost()
{
    StopMsgService();
    CLog4c* expected = &log_;
    serviceLog.compare_exchange_strong(expected, nullptr);
}

CMsgServiceHost::StartResult CMsgServiceHost::StartMsgService()
{
    if (service_)
        return StartResult::AlreadyRunning;
    service_ = std::make_unique<CChatServer>(log_, settings_.sendAllFriend);
    service_->SetLimits(settings_.limits);
    service_->localServer.ReleaseAll();
    const bool loaded = CServerXml(log_).LoadConfig(ConfigPath(), service_->localServer, service_->neighbors,
                                                   service_->routeServers) != 0;
    if (loaded) {
        if (NameRefused()) {
            service_.reset();
            return StartResult::Refused;
        }
        RegisterAndListen();
    }
    BindWorker();
    return loaded ? StartResult::Started : StartResult::StartedUnloaded;
}

bool CMsgServiceHost::StopMsgService()
{
    // Returns once the worker's current cycle has ended (its waits on this
    // loop give up when it is told to stop) and the worker has let go of the
    // service, which may then be destroyed.
    worker_.StopService();
    if (saves_) {
        saves_->Flush();
        saves_.reset();
    }
    awaitingPort_ = false;
    if (!service_)
        return false;
    service_.reset();
    return true;
}

void CMsgServiceHost::SaveConfig()
{
    if (!service_)
        return;
    CServerXml(log_).SaveConfig(ConfigPath(), service_->localServer, service_->neighbors, service_->routeServers);
}

void CMsgServiceHost::AnnounceToRouteServers()
{
    if (service_)
        service_->AnnounceToRouteServers();
}

std::string CMsgServiceHost::ConfigPath() const
{
    return settings_.moduleDir + "/config/server.xml";
}

void CMsgServiceHost::ServiceLogEvent(const char* text)
{
    if (CLog4c* log = serviceLog.load())
        log->LogEvent(text ? text : "");
}

unsigned CMsgServiceHost::LeadingPort(const std::string& text)
{
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    unsigned value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + static_cast<unsigned>(text[i] - '0');
        if (value >= kPortCeiling)
            return kPortCeiling;
    }
    return value;
}

bool CMsgServiceHost::NameRefused()
{
    const std::string& name = service_->localServer.name;
    if (name.find('@') != std::string::npos) {
        log_.LogEvent(0, "服务器名[%s]包含特殊字符'@',不允许启动服务器", name.c_str());
        return true;
    }
    if (name.find('/') != std::string::npos) {
        log_.LogEvent(0, "服务器名[%s]包含特殊字符'/',不允许启动服务器", name.c_str());
        return true;
    }
    // Every stored message carries the server name in a fixed field: a longer
    // name would lose every message for this server's users.
    if (!FitsField(name, MsgIndexLayout::kServerNameField)) {
        log_.LogEvent(kError, "服务器名[%s]超过 %u 字节,不允许启动服务器", name.c_str(),
                      static_cast<unsigned>(MsgIndexLayout::kServerNameField - 1));
        return true;
    }
    return false;
}

void CMsgServiceHost::RegisterAndListen()
{
    service_->SetLogEvent(&CMsgServiceHost::ServiceLogEvent);
    service_->RegCallBackOnSckString(&CChatServer::OnSckString);
    // Saves run at most once a second, so a flood of registrations or
    // announcements cannot hold the loop in file writes.
    saves_ = std::make_unique<CCoalescedSave>([this] { SaveConfig(); }, kSaveInterval);
    service_->SetConfigHook([this] { saves_->Request(); });
    Listen();
    service_->AnnounceToRouteServers();
    service_->StartSendThread();
}

void CMsgServiceHost::Listen()
{
    // A refused port leaves the service running without a listening socket;
    // a port held by another program is tried again by the timer.
    listenPort_ = LeadingPort(service_->localServer.port);
    awaitingPort_ = service_->BeginListen(listenPort_) == 0 && !service_->ListenError().empty();
    retryTicks_ = 0;
    lineTicks_ = 0;
}

bool CMsgServiceHost::RetryListen()
{
    if (!service_ || !awaitingPort_)
        return false;
    ++lineTicks_;
    if (++retryTicks_ < kListenRetryTicks)
        return false;
    retryTicks_ = 0;
    if (service_->ListenAgain()) {
        awaitingPort_ = false;
        return true;
    }
    if (lineTicks_ >= kListenRetryLineTicks) {
        lineTicks_ = 0;
        log_.LogEvent(kError, "监听端口 %u 仍然失败: %.259s,每 %d 秒重试一次", listenPort_,
                      service_->ListenError().c_str(), kListenRetryTicks);
    }
    return false;
}

bool CMsgServiceHost::Listening() const
{
    return service_ && service_->ListeningPort() != 0;
}

void CMsgServiceHost::BindWorker()
{
    // Messages not handled at arrival go to the worker's cache; the worker
    // hands them back to the service's HandleMsgCache on this loop.
    service_->SetMsgStore(worker_.Store());
    worker_.Cache().SetLimits(settings_.storeLimits);
    if (worker_.InitThread(service_.get(), settings_.dataDir))
        worker_.StartService();
}
