// quorvel: the server with its console window. Qt owns the main thread and
// runs the window; the service loop (console logic, timer, service, socket
// notifications) runs on a second thread, and the window posts its commands
// to it; the metrics endpoint, when [METRICS] Port is set, serves the
// console's status snapshots on threads of its own. SIGINT and SIGTERM (a session ending) are the exit command, like
// the tray's "退出程序(&X)". At exit the console is torn down on the service loop, the settings
// are written, and the global objects are destroyed in reverse order, the log
// writing its remaining lines.

#include "CConsoleWindow.h"
#include "CMetricsEndpoint.h"
#include "CQtConsoleView.h"
#include "quorvel_shell/CServerConsoleDlg.h"
#include "ProgramGlobals.h"
#include "corvane/CEventLoopThread.h"

#include <QApplication>
#include <QMessageBox>

#include <asio/signal_set.hpp>

#include <csignal>

using corvane::CEventLoopThread;
using quorvel::host::CServerStatus;
using quorvel::metrics::CMetricsEndpoint;
using quorvel::shell::CServerConsoleDlg;
using quorvel::window::CConsoleWindow;
using quorvel::window::CQtConsoleView;

namespace {

int RunConsole(QApplication& application)
{
    // Set and cleared on the service loop; outlives the loop's thread.
    CServerConsoleDlg* console = nullptr;
    CEventLoopThread service;
    CConsoleWindow window([&service, &console](CConsoleWindow::Command command) {
        service.Loop().Post([&console, command = std::move(command)] {
            if (console)
                command(*console);
        });
    });
    CQtConsoleView view(window);
    CServerConsoleDlg dialog(theApp, theLog, theWorker, view);
    CMetricsEndpoint metrics(theLog, dialog.Host().Counters());
    asio::signal_set exitSignals(service.Loop().Context(), SIGINT, SIGTERM);
    service.Loop().Call([&] {
        console = &dialog;
        dialog.OnInitDialog(&service.Loop());
        if (metrics.Start(CMetricsEndpoint::ReadSettings(theApp)))
            dialog.SetStatusSink([&metrics](const CServerStatus::Snapshot& status) { metrics.Publish(status); });
        exitSignals.async_wait([&console](const std::error_code& error, int) {
            if (!error && console)
                console->OnExitCommand(1);
        });
    });
    window.show();
    const int status = application.exec();
    // Whatever ended the Qt loop, the console is torn down on its own thread.
    service.Loop().Call([&] {
        exitSignals.cancel();
        dialog.OnDestroy();
        console = nullptr;
    });
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    if (!theApp.InitInstance(theLog)) {
        QMessageBox::critical(nullptr, QStringLiteral("Quorvel"), QStringLiteral("Windows 通信端口初始化失败。"));
        return 1;
    }
    application.setQuitOnLastWindowClosed(false);
    RunConsole(application);
    return theApp.ExitInstance();
}
