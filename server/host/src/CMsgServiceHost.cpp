#include "quorvel_host/CMsgServiceHost.h"

#include "quorvel_service/CChatServer.h"
#include "quorvel_store/CMsgSendThread.h"
#include "quorvel_directory/CServerXml.h"
#include "quorvel_store/MsgIndexLayout.h"
#include "scrivlet/CLog4c.h"
#include "scrivlet/LogText.h"

#include "corvane/CMyRASSocket.h"

#include <atomic>
#include <unordered_set>

namespace quorvel::host {

using marlune::CTalkerServer;
using directory::CCoalescedSave;
using directory::CDirectoryWriter;
using directory::CServerXml;
using service::CChatServer;
using store::CMsgSendThread;
using store::FitsField;
namespace MsgIndexLayout = store::MsgIndexLayout;
using scrivlet::CLog4c;
using scrivlet::ErrorText;

namespace {

// The log that ServiceLogEvent writes to: the transport's log callback is a
// plain function, so it reaches the log through this pointer.
std::atomic<CLog4c*> serviceLog{nullptr};

constexpr int kError = 2;

} // namespace

CMsgServiceHost::CMsgServiceHost(CLog4c& log, CMsgSendThread& worker, Settings settings)
    : log_(log), worker_(worker), settings_(std::move(settings)), writer_(log_, ConfigPath())
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
    service_->SetCounters(counters_);
    service_->localServer.ReleaseAll();
    listenPort_ = 0;
    loaded_ = CServerXml(log_).LoadConfig(ConfigPath(), service_->localServer, service_->neighbors,
                                          service_->routeServers) != 0;
    if (loaded_) {
        if (NameRefused()) {
            service_.reset();
            return StartResult::Refused;
        }
        RegisterAndListen();
    }
    BindWorker();
    return loaded_ ? StartResult::Started : StartResult::StartedUnloaded;
}

bool CMsgServiceHost::StopMsgService()
{
    // Returns once the worker's current cycle has ended (its waits on this
    // loop give up when it is told to stop) and the worker has let go of the
    // service, which may then be destroyed.
    worker_.StopService();
    if (saves_) {
        // The writer is idle after its flush, so a save still pending hands
        // over its copy now, and the second flush writes it.
        writer_.Flush();
        saves_->Flush();
        saves_.reset();
    }
    writer_.Flush();
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
    // While the writer is still busy with an earlier copy, a new one would
    // only replace the one waiting: the save is asked for again in an
    // interval, so the loop copies the records at most once per write.
    if (writer_.Busy() && saves_) {
        saves_->Request();
        return;
    }
    writer_.Submit(
        CDirectoryWriter::TakeSnapshot(service_->localServer, service_->neighbors, service_->routeServers));
}

void CMsgServiceHost::FlushSaves()
{
    writer_.Flush();
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

bool CMsgServiceHost::NameRefused()
{
    const std::string& name = service_->localServer.name;
    if (const char forbidden = CTalkerServer::ForbiddenNameChar(name)) {
        log_.LogEvent(0, "服务器名[%s]包含特殊字符'%c',不允许启动服务器", name.c_str(), forbidden);
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
    // Saves run at most once a second, and the loop only copies the
    // records: the file is built and written on the directory writer's
    // thread, so a flood of registrations or announcements cannot hold the
    // loop in file writes.
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
    listenPort_ = service_->localServer.PortNumber();
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
        log_.LogEvent(kError, "监听端口 %u 仍然失败: %s,每 %d 秒重试一次", listenPort_,
                      ErrorText(service_->ListenError()).c_str(), kListenRetryTicks);
    }
    return false;
}

bool CMsgServiceHost::Listening() const
{
    return service_ && service_->ListeningPort() != 0;
}

std::string CMsgServiceHost::WhyNotListening() const
{
    if (!service_)
        return "the service is stopped";
    if (Listening())
        return {};
    if (!loaded_)
        return "the directory file " + ConfigPath() + " could not be read";
    if (awaitingPort_)
        return "port " + std::to_string(listenPort_) + ": " + service_->ListenError() + " (tried again every " +
               std::to_string(kListenRetryTicks) + " s)";
    return "port " + std::to_string(listenPort_) + " refused (ports up to 2000 and past 65535 are refused)";
}

CServerStatus::Snapshot CMsgServiceHost::StatusSnapshot() const
{
    CServerStatus::Snapshot status;
    status.counters = counters_->Read();
    status.residentBytes = CServerStatus::ResidentBytes();
    status.running = service_ != nullptr;
    status.listening = Listening();
    status.whyNotListening = WhyNotListening();
    status.port = service_ ? listenPort_ : 0;
    std::string localName;
    if (service_) {
        localName = service_->localServer.name;
        std::unordered_set<std::string> users;
        for (const auto& connection : service_->Connections()) {
            if (connection->active.load() == 0)
                continue;
            ++status.connections;
            if (std::string userId = CChatServer::BoundUserId(*connection); !userId.empty())
                users.insert(std::move(userId));
        }
        status.usersLoggedIn = users.size();
    }
    status.store = worker_.Cache().GetStats(localName);
    return status;
}

void CMsgServiceHost::BindWorker()
{
    // Messages not handled at arrival go to the worker's cache; the worker
    // hands them back to the service's HandleMsgCache on this loop.
    service_->SetMsgStore(worker_.Store());
    worker_.Cache().SetLimits(settings_.storeLimits);
    worker_.Cache().SetCounters(counters_);
    if (worker_.InitThread(service_.get(), settings_.dataDir))
        worker_.StartService();
}

} // namespace quorvel::host
