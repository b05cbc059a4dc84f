#pragma once

#include "quorvel_shell/CConsoleView.h"

#include "CTerminalOutput.h"

namespace corvane {
class CEventLoop;
}

namespace quorvel::terminal {

// The terminal front end: log lines (any thread) and the options flag and
// status as lines of the terminal's output; buttons, caption and visibility
// have nothing to show on a terminal. The end of the program stops the
// service loop.
class CTerminalView : public shell::CConsoleView {
public:
    // `output` must outlive the view.
    CTerminalView(corvane::CEventLoop& loop, CTerminalOutput& output);

    void EnableButtons(bool, bool) override {}
    void SetCaption(const std::string&) override {}
    void ShowWindow(bool) override {}
    void ShowOptions(bool checked) override;
    void ShowStatus(const std::string& block) override;
    void ShowLogLine(const char* line) override;
    void EndProgram() override;

private:
    corvane::CEventLoop& loop_;
    CTerminalOutput& output_;
};

} // namespace quorvel::terminal
