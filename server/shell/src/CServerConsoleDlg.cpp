#include "quorvel_shell/CServerConsoleDlg.h"

#include "quorvel_service/CChatServer.h"
#include "quorvel_shell/CConsoleView.h"
#include "quorvel_shell/CServerApp.h"
#include "CTickTimer.h"
#include "scrivlet/CLog4c.h"

#include <atomic>
#include <chrono>

namespace quorvel::shell {

using corvane::CEventLoop;
using marlune::CTalkerServer;
using host::CMsgServiceHost;
using host::CServerStatus;
using store::CMsgSendThread;
using scrivlet::CLog4c;

namespace {

// The console the log sink shows lines on; set by OnInitDialog, cleared by
// the teardown.
std::atomic<CServerConsoleDlg*> theConsole{nullptr};

constexpr std::chrono::milliseconds kTimerPeriod{1000};
// Added to the caption while the service has no listening socket.
constexpr const char* kNotListening = " (未监听)";

} // namespace

CServerConsoleDlg::CServerConsoleDlg(CServerApp& app, CLog4c& log, CMsgSendThread& worker, CConsoleView& view)
    : CNotifyIconDlg(view),
      app_(app),
      log_(log),
      host_(log, worker, {app.ModuleDir(), app.DataDir(), [&app] { return app.SendAllFriend(); }, app.StoreLimits(), app.Limits()})
{
}

CServerConsoleDlg::~CServerConsoleDlg()
{
    OnDestroy();
}

void CServerConsoleDlg::OnInitDialog(CEventLoop* timerLoop)
{
    theConsole.store(this);
    log_.RegLogEvent(&CServerConsoleDlg::AppendLog);
    log_.LogEvent(0, "系统启动成功!");
    log_.LogEvent(0, "将在10秒后自动开启消息服务...");
    View().EnableButtons(true, false);
    if (timerLoop) {
        timer_ = std::make_unique<CTickTimer>(*timerLoop, [this] { OnTimer(); });
        timer_->Start(kTimerPeriod);
    }
}

void CServerConsoleDlg::StartMsgService()
{
    if (destroyed_)
        return;
    const CMsgServiceHost::StartResult result = host_.StartMsgService();
    if (result == CMsgServiceHost::StartResult::AlreadyRunning || result == CMsgServiceHost::StartResult::Refused)
        return;
    if (result == CMsgServiceHost::StartResult::Started)
        ShowCaption();
    View().EnableButtons(false, true);
    log_.LogEvent(0, "消息服务已经开启成功!");
}

void CServerConsoleDlg::StopMsgService()
{
    if (host_.StopMsgService())
        View().EnableButtons(true, false);
}

void CServerConsoleDlg::OnTimer()
{
    if (destroyed_)
        return;
    if (timer_)
        host_.Counters()->SetLoopLag(std::chrono::duration_cast<std::chrono::microseconds>(timer_->LastLag()));
    if (announceCounter_ > kAnnounceAfter) {
        announceCounter_ = 0;
        host_.AnnounceToRouteServers();
    } else {
        ++announceCounter_;
    }
    if (host_.Service() == nullptr) {
        if (startCounter_ > kStartAfter) {
            startCounter_ = 0;
            StartMsgService();
        } else {
            ++startCounter_;
        }
    }
    if (host_.RetryListen())
        ShowCaption();
    if (statusSink_)
        statusSink_(host_.StatusSnapshot());
}

void CServerConsoleDlg::OnStatus()
{
    View().ShowStatus(CServerStatus::Block(host_.StatusSnapshot()));
}

void CServerConsoleDlg::ShowCaption()
{
    View().SetCaption(Caption(host_.Service()->localServer, host_.Listening()));
}

void CServerConsoleDlg::SaveConfig()
{
    host_.SaveConfig();
}

void CServerConsoleDlg::OnOptions()
{
    View().ShowOptions(app_.SendAllFriend());
}

void CServerConsoleDlg::OnOptionsClosed(bool saved, bool checked)
{
    if (saved)
        app_.SetSendAllFriend(checked);
    app_.WriteSettings();
}

void CServerConsoleDlg::OnExitCommand(int flag)
{
    CNotifyIconDlg::OnExitCommand(flag);
    OnDestroy();
    View().EndProgram();
}

void CServerConsoleDlg::OnDestroy()
{
    if (destroyed_)
        return;
    destroyed_ = true;
    timer_.reset();
    statusSink_ = nullptr;
    StopMsgService();
    CServerConsoleDlg* self = this;
    if (theConsole.compare_exchange_strong(self, nullptr))
        log_.RegLogEvent(nullptr);
}

void CServerConsoleDlg::AppendLog(const char* line)
{
    if (CServerConsoleDlg* console = theConsole.load())
        console->View().ShowLogLine(line ? line : "");
}

std::string CServerConsoleDlg::Caption(const CTalkerServer& server, bool listening)
{
    return "聊天服务器[名称:" + server.name + " IP:" + server.ip + " 端口:" + server.port + " 描述:" +
           server.description + "]" + (listening ? "" : kNotListening);
}

CServerConsoleDlg::Layout CServerConsoleDlg::LayoutControls(int w, int h)
{
    constexpr int kButtonWidth = 70;
    constexpr int kButtonHeight = 30;
    const int buttonTop = h - 35;
    Layout layout;
    layout.tab = {0, 0, w, h - 50};
    layout.page = {4, 22, w - 8, h - 76};
    layout.start = {50, buttonTop, kButtonWidth, kButtonHeight};
    layout.stop = {150, buttonTop, kButtonWidth, kButtonHeight};
    layout.options = {250, buttonTop, kButtonWidth, kButtonHeight};
    return layout;
}

} // namespace quorvel::shell
