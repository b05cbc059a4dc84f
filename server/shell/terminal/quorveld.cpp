// quorveld: the server with a terminal console. The main thread is the
// service loop: it runs the console, its timer, the service and every socket
// notification. Log lines go to standard output in UTF-8; commands come on
// standard input, one per line; SIGINT and SIGTERM are the exit command.
// With [METRICS] Port set, the metrics endpoint serves the console's status
// snapshots on a thread of its own.
// At exit the settings are written, then the global objects are destroyed
// in reverse order, the log writing its remaining lines.
//
//   quorveld              runs the server
//   quorveld --help       prints the usage; --version prints the version

#include "CMetricsEndpoint.h"
#include "quorvel_shell/CServerConsoleDlg.h"
#include "CStdinReader.h"
#include "CTerminalCommands.h"
#include "CTerminalOutput.h"
#include "CTerminalView.h"
#include "ProgramGlobals.h"
#include "corvane/CEventLoop.h"

#include <asio/io_context.hpp>
#include <asio/signal_set.hpp>

#include <csignal>
#include <cstdio>
#include <cstring>

#include <unistd.h>

using corvane::CEventLoop;
using quorvel::host::CServerStatus;
using quorvel::metrics::CMetricsEndpoint;
using quorvel::shell::CServerConsoleDlg;
using quorvel::terminal::CStdinReader;
using quorvel::terminal::CTerminalOutput;
using quorvel::terminal::CTerminalCommands;
using quorvel::terminal::CTerminalView;

namespace {

constexpr const char* kUsage =
    "usage: quorveld [--help | --version]\n"
    "Runs the Quorvel server. It keeps its config/, data/, log/ and tmp/ folders next to the\n"
    "program file, prints its log on standard output and reads console commands from\n"
    "standard input: start, stop, status, options, options on, options off, exit.\n";

// What the command line asks for: -1 to run the server, otherwise the exit
// status after the usage or the version was printed.
int CommandLine(int argc, char** argv)
{
    if (argc == 1)
        return -1;
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::puts("quorveld (Quorvel) " QUORVEL_VERSION);
        return 0;
    }
    std::fputs(kUsage, stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (const int status = CommandLine(argc, argv); status >= 0)
        return status;
    if (!theApp.InitInstance(theLog))
        return 1;
    // Started in the background of an interactive shell, a read from the
    // terminal would stop the whole server; ignored, it just ends the input.
    std::signal(SIGTTIN, SIG_IGN);
    CEventLoop loop;
    CTerminalOutput output(STDOUT_FILENO);
    CTerminalView view(loop, output);
    CServerConsoleDlg console(theApp, theLog, theWorker, view);
    CTerminalCommands commands(console);
    CMetricsEndpoint metrics(theLog, console.Host().Counters());

    asio::signal_set exitSignals(loop.Context(), SIGINT, SIGTERM);
    exitSignals.async_wait([&console](const std::error_code& error, int) {
        if (!error)
            console.OnExitCommand(1);
    });
    loop.Post([&console, &loop, &metrics] {
        console.OnInitDialog(&loop);
        if (metrics.Start(CMetricsEndpoint::ReadSettings(theApp)))
            console.SetStatusSink([&metrics](const CServerStatus::Snapshot& status) { metrics.Publish(status); });
    });
    {
        CStdinReader input([&loop, &commands, &output](std::string line) {
            loop.Post([&commands, &output, line = std::move(line)] {
                const std::string answer = commands.Run(line);
                if (!answer.empty())
                    output.WriteLine(answer, true);
            });
        });
        loop.Run();
    }
    exitSignals.cancel();
    console.OnDestroy();
    return theApp.ExitInstance();
}
