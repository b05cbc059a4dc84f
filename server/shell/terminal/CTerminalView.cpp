#include "CTerminalView.h"

#include "CTerminalText.h"
#include "corvane/CEventLoop.h"

#include <cstdio>

void CTerminalView::ShowOptions(bool checked)
{
    CTerminalText::WriteLine(stdout, checked ? "options: SendAllFriend=1 (将所有用户当作好友发给用户)"
                                             : "options: SendAllFriend=0");
}

void CTerminalView::ShowLogLine(const char* line)
{
    CTerminalText::PrintLogLine(line);
}

void CTerminalView::EndProgram()
{
    loop_.Stop();
}
