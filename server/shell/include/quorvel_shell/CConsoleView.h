#pragma once

#include <string>

namespace quorvel::shell {

// What the console logic needs of its front end (a window, a terminal).
// The console calls every operation but ShowLogLine on the service loop
// thread; a front end whose widgets live on another thread hops there
// itself and must not wait for the service loop meanwhile.
class CConsoleView {
public:
    virtual ~CConsoleView() = default;

    // Enabled states of the start and stop buttons.
    virtual void EnableButtons(bool start, bool stop) = 0;
    // The window title, GBK.
    virtual void SetCaption(const std::string& caption) = 0;
    // Shows or hides the console window.
    virtual void ShowWindow(bool show) = 0;
    // Opens the options dialog with its check box set to `checked`. When it
    // ends, the front end reports how on the service loop
    // (CServerConsoleDlg::OnOptionsClosed); a front end without a dialog
    // only shows the value.
    virtual void ShowOptions(bool checked) = 0;
    // Shows the status block (CServerStatus::Block): lines joined by "\n".
    virtual void ShowStatus(const std::string& block) = 0;
    // One whole log line (GBK, time stamp and line end included), valid only
    // during the call. Called on whatever thread logs, possibly on several
    // at once.
    virtual void ShowLogLine(const char* line) = 0;
    // The console has torn itself down after the exit command: the program's
    // own loop may end now.
    virtual void EndProgram() = 0;
};

} // namespace quorvel::shell
