#include "CTerminalView.h"

#include "quorvel_shell/CTerminalText.h"
#include "corvane/CEventLoop.h"

#include <cstdio>

namespace quorvel::terminal {

using corvane::CEventLoop;
using shell::CTerminalText;

void CTerminalView::ShowOptions(bool checked)
{
    CTerminalText::WriteLine(stdout, checked ? "options: SendAllFriend=1 (将所有用户当作好友发给用户)"
                                             : "options: SendAllFriend=0");
}

void CTerminalView::ShowStatus(const std::string& block)
{
    CTerminalText::WriteLine(stdout, block);
}

CTerminalView::CTerminalView(CEventLoop& loop) : loop_(loop), flushTimer_(loop.Context()) {}

void CTerminalView::ShowLogLine(const char* line)
{
    // One write per burst of lines rather than one per line: a busy server
    // logs tens of thousands of lines a second, and each write would cost
    // the loop a system call. The first line of a burst arms the flush.
    CTerminalText::WriteLineUnflushed(stdout, line ? line : "");
    if (!flushPending_.exchange(true))
        loop_.Post([this] {
            flushTimer_.expires_after(kFlushDelay);
            flushTimer_.async_wait([this](const std::error_code& error) {
                if (error)
                    return;
                flushPending_ = false;
                std::fflush(stdout);
            });
        });
}

void CTerminalView::EndProgram()
{
    loop_.Stop();
}

} // namespace quorvel::terminal
