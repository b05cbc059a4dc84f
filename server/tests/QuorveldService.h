#pragma once

#include "quorvel_test_support/FreePort.h"
#include "quorvel_test_support/QuorveldProcess.h"
#include "quorvel_test_support/ServerConfig.h"
#include "quorvel_test_support/TempFolder.h"

#include "quorvel_shell/CTerminalText.h"

#include <chrono>
#include <atomic>
#include <filesystem>
#include <thread>
#include <string>
#include <vector>

using quorvel::shell::CTerminalText;
using quorvel::testsupport::QuorveldProcess;
using quorvel::testsupport::ServerConfig;

// Writes config/server.xml in `folder` for server "hub" on `port` with the
// given users, each with password "pw-<id>" and no friends.
inline void WriteHubDirectory(const std::filesystem::path& folder, unsigned port,
                              const std::vector<std::string>& users)
{
    ServerConfig config("hub", port);
    for (const auto& id : users)
        config.AddUser(id, "pw-" + id);
    config.WriteTo(folder);
}

// The GBK text as quorveld's terminal shows it.
inline std::string TerminalText(const std::string& gbk)
{
    return CTerminalText::ToUtf8(gbk);
}

// Starts `quorveld` and its message service with the "start" command; true
// once the service listens on `port` and has started.
inline bool StartService(QuorveldProcess& quorveld, unsigned port)
{
    using namespace std::chrono_literals;
    return quorveld.Start() && quorveld.WaitForOutput(TerminalText("INFOR 系统启动成功!\n"), 30s) &&
           quorveld.SendLine("start") &&
           quorveld.WaitForOutput(TerminalText("成功开始监听(端口号:" + std::to_string(port) + ")!\n"), 30s) &&
           quorveld.WaitForOutput(TerminalText("INFOR 消息服务已经开启成功!\n"), 30s);
}

// Reads the program's standard output on a thread of its own while it lives,
// so the program never blocks on a full pipe while the test does something
// else. The test must not touch the process object meanwhile.
class OutputDrain {
public:
    explicit OutputDrain(QuorveldProcess& quorveld)
        : thread_([this, &quorveld] {
              while (!stop_ && quorveld.ReadOutputFor(std::chrono::milliseconds(100))) {
              }
          })
    {
    }
    ~OutputDrain()
    {
        stop_ = true;
        thread_.join();
    }
    OutputDrain(const OutputDrain&) = delete;
    OutputDrain& operator=(const OutputDrain&) = delete;

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};
