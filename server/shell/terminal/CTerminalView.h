#pragma once

#include "CConsoleView.h"

#include <atomic>

class CEventLoop;

// The terminal front end: log lines on standard output in UTF-8 (any thread;
// flushed by the loop after the work in hand), the options flag shown as a
// line; buttons, caption and visibility have nothing to show
// on a terminal. The end of the program stops the service loop.
class CTerminalView : public CConsoleView {
public:
    explicit CTerminalView(CEventLoop& loop) : loop_(loop) {}

    void EnableButtons(bool, bool) override {}
    void SetCaption(const std::string&) override {}
    void ShowWindow(bool) override {}
    void ShowOptions(bool checked) override;
    void ShowStatus(const std::string& block) override;
    void ShowLogLine(const char* line) override;
    void EndProgram() override;

private:
    CEventLoop& loop_;
    std::atomic<bool> flushPending_{false};
};
