#pragma once

#include "quorvel_host/CMsgServiceHost.h"
#include "quorvel_shell/CNotifyIconDlg.h"
#include "quorvel_host/CServerStatus.h"

#include <functional>
#include <memory>
#include <string>

namespace corvane {
class CEventLoop;
}
namespace marlune {
class CTalkerServer;
}
namespace quorvel::store {
class CMsgSendThread;
}
namespace scrivlet {
class CLog4c;
}

namespace quorvel::shell {

class CServerApp;
class CTickTimer;

// The console's behaviour, free of any toolkit: it owns the running message
// service (through CMsgServiceHost), runs the one-second timer with its two
// counters (automatic start, periodic announcement), the buttons' commands,
// the options flow, the exit command and the teardown. Stored messages come
// back to the service on the same thread: the delivery worker runs their
// HandleMsgCache on the service loop. A front end (window or terminal)
// implements CConsoleView and forwards its commands here.
//
// Thread: the service loop thread for every method, except AppendLog.
class CServerConsoleDlg : public CNotifyIconDlg {
public:
    struct Rect {
        int x = 0;
        int y = 0;
        int width = 0;
        int height = 0;
        bool operator==(const Rect&) const = default;
    };
    // Places of the controls in the console's client area.
    struct Layout {
        Rect tab;       // tab control 1000
        Rect page;      // log page holding edit 1001
        Rect start;     // button 1002 "启动"
        Rect stop;      // button 1003 "停止"
        Rect options;   // button 1005 "选项"
    };

    // A tick counter passes this before the automatic start and the
    // periodic announcement (on the 12th and the 62nd tick).
    static constexpr int kStartAfter = 10;
    static constexpr int kAnnounceAfter = 60;

    CServerConsoleDlg(CServerApp& app, scrivlet::CLog4c& log, store::CMsgSendThread& worker, CConsoleView& view);
    // Tears down what is still up.
    ~CServerConsoleDlg() override;

    // Initialisation: becomes the process's console, registers AppendLog
    // with the log, logs "系统启动成功!" and "将在10秒后自动开启消息服务...",
    // enables start and disables stop, and, given a loop, starts the
    // one-second timer on it (without one, OnTimer is driven from outside).
    void OnInitDialog(corvane::CEventLoop* timerLoop);

    // The start button: starts the service unless one runs. Nothing happens
    // after the teardown (a command may arrive late).
    void StartMsgService();
    // The stop button: stops the worker and the service.
    void StopMsgService();
    // One tick of the one-second timer (also the retries of a port another
    // program holds); none after the teardown.
    void OnTimer();
    // The directory-changed hook's save.
    void SaveConfig();

    // The options command: the front end opens its dialog with the flag.
    void OnOptions();
    // The options dialog ended: with "保存&S" (`saved`) the check box becomes
    // the flag; either way the settings file is written.
    void OnOptionsClosed(bool saved, bool checked);

    // The status command: the front end shows the status block.
    void OnStatus();
    // Receives a status snapshot at every timer tick (the metrics endpoint);
    // null removes it.
    using StatusSink = std::function<void(const host::CServerStatus::Snapshot&)>;
    void SetStatusSink(StatusSink sink) { statusSink_ = std::move(sink); }

    // Exit ("退出程序(&X)"): tears the console down and ends the program.
    void OnExitCommand(int flag) override;
    // Teardown, in order: the timer stops, the service stops, the log view
    // is unbound. Runs once.
    void OnDestroy();

    // The log sink registered with the log: shows the line on the process's
    // console, or drops it when there is none. Any thread.
    static void AppendLog(const char* line);
    // The window caption for a running service; one without its listening
    // socket says so.
    static std::string Caption(const marlune::CTalkerServer& server, bool listening);
    // Control places for a client area of w x h.
    static Layout LayoutControls(int w, int h);

    host::CMsgServiceHost& Host() { return host_; }
    int AnnounceCounter() const { return announceCounter_; }
    int StartCounter() const { return startCounter_; }

private:
    // Shows the running service's caption.
    void ShowCaption();

    CServerApp& app_;
    scrivlet::CLog4c& log_;
    host::CMsgServiceHost host_;
    std::unique_ptr<CTickTimer> timer_;
    StatusSink statusSink_;
    int announceCounter_ = 0;
    int startCounter_ = 0;
    bool destroyed_ = false;
};

} // namespace quorvel::shell
