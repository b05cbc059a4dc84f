#include "CTerminalView.h"

#include "CTerminalText.h"
#include "corvane/CEventLoop.h"

#include <cstdio>

void CTerminalView::ShowOptions(bool checked)
{
    CTerminalText::WriteLine(stdout, checked ? "options: SendAllFriend=1 (将所有用户当作好友发给用户)"
                                             : "options: SendAllFriend=0");
}

void CTerminalView::ShowStatus(const std::string& block)
{
    CTerminalText::WriteLine(stdout, block);
}

void CTerminalView::ShowLogLine(const char* line)
{
    // One flush per burst of lines rather than one write per line: the
    // flush is posted to the loop, which runs it once the work in hand (a
    // whole read of frames, each logging its lines) is done.
    CTerminalText::WriteLineUnflushed(stdout, line ? line : "");
    if (!flushPending_.exchange(true))
        loop_.Post([this] {
            flushPending_ = false;
            std::fflush(stdout);
        });
}

void CTerminalView::EndProgram()
{
    loop_.Stop();
}
