#pragma once

#include "quorvel_shell/CConsoleView.h"
#include "quorvel_store/CMsgSendThread.h"
#include "quorvel_shell/CServerApp.h"
#include "quorvel_shell/CServerConsoleDlg.h"
#include "quorvel_test_support/FreePort.h"
#include "quorvel_test_support/TempFolder.h"
#include "corvane/CEventLoopThread.h"
#include "scrivlet/CLog4c.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

using corvane::CEventLoopThread;
using quorvel::shell::CConsoleView;
using quorvel::shell::CServerApp;
using quorvel::shell::CServerConsoleDlg;
using quorvel::store::CMsgSendThread;
using quorvel::testsupport::TempFolder;
using scrivlet::CLog4c;

// A front end that records what the console asks of it.
class FakeConsoleView : public CConsoleView {
public:
    void EnableButtons(bool start, bool stop) override { buttons.emplace_back(start, stop); }
    void SetCaption(const std::string& caption) override { captions.push_back(caption); }
    void ShowWindow(bool) override {}
    void ShowOptions(bool checked) override { options.push_back(checked); }
    void ShowStatus(const std::string& block) override { statuses.push_back(block); }
    void ShowLogLine(const char* line) override
    {
        std::lock_guard lock(linesLock_);
        lines_.emplace_back(line);
    }
    void EndProgram() override { ++ends; }

    std::vector<std::string> Lines() const
    {
        std::lock_guard lock(linesLock_);
        return lines_;
    }
    // Lines holding `text`.
    int Count(const std::string& text) const;
    // Index of the first line holding `text` at or after `from`; -1 when none.
    int Find(const std::string& text, int from = 0) const;

    std::vector<std::pair<bool, bool>> buttons;
    std::vector<std::string> captions;
    std::vector<bool> options;
    std::vector<std::string> statuses;
    int ends = 0;

private:
    mutable std::mutex linesLock_;
    std::vector<std::string> lines_;
};

// A console in a fresh program folder, its service loop on a thread of its
// own, initialised without a running timer: the test drives the ticks.
class ConsoleTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Runs fn on the service loop and waits for it.
    template <class F>
    void OnLoop(F fn)
    {
        ASSERT_TRUE(loop_.Loop().Call(std::move(fn)));
    }
    // `count` timer ticks on the service loop.
    void Ticks(int count);
    bool Running();
    // The listening port of the running service, 0 when none or not listening.
    unsigned ListeningPort();

    // Writes config/server.xml for a server with this name and port text,
    // and `routes` as route servers on 127.0.0.1 at the given ports.
    void WriteDirectory(const std::string& name, const std::string& port,
                        const std::vector<unsigned>& routes = {});

    TempFolder dir_;
    CLog4c log_;
    CServerApp app_;
    CMsgSendThread worker_{log_};
    FakeConsoleView view_;
    CEventLoopThread loop_;
    std::unique_ptr<CServerConsoleDlg> console_;
};
