#include "CQtConsoleView.h"

#include "CConsoleWindow.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace quorvel::window {

CQtConsoleView::CQtConsoleView(CConsoleWindow& window) : window_(&window) {}

template <class F>
void CQtConsoleView::OnGui(F fn)
{
    // The window is the context object: the call is queued to its thread and
    // dropped if the window dies first.
    if (CConsoleWindow* window = window_.data())
        QMetaObject::invokeMethod(window, [window, fn = std::move(fn)] { fn(*window); }, Qt::QueuedConnection);
}

void CQtConsoleView::EnableButtons(bool start, bool stop)
{
    OnGui([start, stop](CConsoleWindow& w) { w.EnableButtons(start, stop); });
}

void CQtConsoleView::SetCaption(const std::string& caption)
{
    OnGui([caption](CConsoleWindow& w) { w.SetCaption(caption); });
}

void CQtConsoleView::ShowWindow(bool show)
{
    OnGui([show](CConsoleWindow& w) { w.ShowConsole(show); });
}

void CQtConsoleView::ShowOptions(bool checked)
{
    OnGui([checked](CConsoleWindow& w) { w.OpenOptions(checked); });
}

void CQtConsoleView::ShowStatus(const std::string& block)
{
    OnGui([block](CConsoleWindow& w) { w.ShowStatus(block); });
}

void CQtConsoleView::ShowLogLine(const char* line)
{
    OnGui([text = std::string(line ? line : "")](CConsoleWindow& w) { w.AppendLogText(text); });
}

void CQtConsoleView::EndProgram()
{
    // exit, not quit: quit first asks every window to close, and a console
    // window that turns its close into the exit command would refuse.
    QMetaObject::invokeMethod(QCoreApplication::instance(), [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
}

} // namespace quorvel::window
