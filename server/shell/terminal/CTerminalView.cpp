#include "CTerminalView.h"

#include "corvane/CEventLoop.h"

namespace quorvel::terminal {

using corvane::CEventLoop;

void CTerminalView::ShowOptions(bool checked)
{
    output_.WriteLine(checked ? "options: SendAllFriend=1 (将所有用户当作好友发给用户)" : "options: SendAllFriend=0", true);
}

void CTerminalView::ShowStatus(const std::string& block)
{
    output_.WriteLine(block, true);
}

CTerminalView::CTerminalView(CEventLoop& loop, CTerminalOutput& output) : loop_(loop), output_(output) {}

void CTerminalView::ShowLogLine(const char* line)
{
    // A busy server logs tens of thousands of lines a second: they gather
    // and go out together, written by the output's own thread.
    output_.WriteLine(line ? line : "");
}

void CTerminalView::EndProgram()
{
    loop_.Stop();
}

} // namespace quorvel::terminal
