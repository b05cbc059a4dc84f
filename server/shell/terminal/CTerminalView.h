#pragma once

#include "quorvel_shell/CConsoleView.h"

#include <asio/steady_timer.hpp>

#include <atomic>
#include <chrono>

namespace corvane {
class CEventLoop;
}

namespace quorvel::terminal {

// The terminal front end: log lines on standard output in UTF-8 (any thread;
// written out by the loop together, at most kFlushDelay after the first of
// them), the options flag shown as a
// line; buttons, caption and visibility have nothing to show
// on a terminal. The end of the program stops the service loop.
class CTerminalView : public shell::CConsoleView {
public:
    // How long a log line may wait in the stream's buffer for others.
    static constexpr std::chrono::milliseconds kFlushDelay{20};

    explicit CTerminalView(corvane::CEventLoop& loop);

    void EnableButtons(bool, bool) override {}
    void SetCaption(const std::string&) override {}
    void ShowWindow(bool) override {}
    void ShowOptions(bool checked) override;
    void ShowStatus(const std::string& block) override;
    void ShowLogLine(const char* line) override;
    void EndProgram() override;

private:
    corvane::CEventLoop& loop_;
    asio::steady_timer flushTimer_;  // loop thread
    std::atomic<bool> flushPending_{false};
};

} // namespace quorvel::terminal
