#pragma once

#include "quorvel_shell/CConsoleView.h"

#include <QPointer>

namespace quorvel::window {

class CConsoleWindow;

// The window's side of the console logic: each call, made on the service
// loop thread (log lines on any thread), is queued to the GUI thread and
// carried out there on the window; nothing waits for the GUI. Calls that
// reach the GUI after the window is gone are dropped.
class CQtConsoleView : public shell::CConsoleView {
public:
    explicit CQtConsoleView(CConsoleWindow& window);

    void EnableButtons(bool start, bool stop) override;
    void SetCaption(const std::string& caption) override;
    void ShowWindow(bool show) override;
    void ShowOptions(bool checked) override;
    void ShowStatus(const std::string& block) override;
    void ShowLogLine(const char* line) override;
    // Ends the Qt event loop.
    void EndProgram() override;

private:
    template <class F>
    void OnGui(F fn);

    QPointer<CConsoleWindow> window_;
};

} // namespace quorvel::window
