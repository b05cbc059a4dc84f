// quorveld: the server with a terminal console. Log lines go to standard
// output in UTF-8; SIGINT and SIGTERM end the program cleanly: the settings
// are written, then the global log writes its remaining lines.

#include "CTerminalText.h"
#include "ProgramGlobals.h"

#include <pthread.h>

#include <csignal>

namespace {

// Blocks SIGINT and SIGTERM before any thread starts, so every later thread
// inherits the mask and the signals wait for WaitForExitSignal.
sigset_t BlockExitSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    return signals;
}

void WaitForExitSignal(const sigset_t& signals)
{
    int received = 0;
    sigwait(&signals, &received);
}

} // namespace

int main()
{
    const sigset_t exitSignals = BlockExitSignals();
    if (!theApp.InitInstance(theLog))
        return 1;
    theLog.RegLogEvent(&CTerminalText::PrintLogLine);
    theLog.LogEvent(0, "系统启动成功!");
    WaitForExitSignal(exitSignals);
    return theApp.ExitInstance();
}
