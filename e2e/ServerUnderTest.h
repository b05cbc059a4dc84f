#pragma once

#include "quorvel_test_support/QuorveldProcess.h"
#include "quorvel_test_support/ServerConfig.h"
#include "quorvel_test_support/TempFolder.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

using quorvel::testsupport::QuorveldProcess;
using quorvel::testsupport::ServerConfig;
using quorvel::testsupport::TempFolder;

// One Quorvel server for a scenario: a temporary program folder with its own
// config/server.xml on a free 127.0.0.1 port, and the quorveld copy that runs
// in it. The server may be started and ended several times; its folder (the
// directory file it rewrote, its message cache, its log) stays until the
// object is destroyed, which kills a copy still running and removes the
// folder. Texts given here are UTF-8, as the directory file holds them.
//
// A thread of its own reads the program's output all the time: the program
// writes its log to standard output, and a pipe nobody empties would stop
// it at its next log line. Calls come from one thread.
class ServerUnderTest {
public:
    explicit ServerUnderTest(std::string name);
    ~ServerUnderTest();
    ServerUnderTest(const ServerUnderTest&) = delete;
    ServerUnderTest& operator=(const ServerUnderTest&) = delete;

    const std::string& Name() const { return name_; }
    unsigned Port() const { return port_; }
    const std::filesystem::path& Folder() const { return folder_.Path(); }

    // Entries of the directory file written before the first start.
    void AddUser(const std::string& id, const std::string& password, const std::string& friends = {});
    void AddRouteServer(const ServerUnderTest& other);
    // A route server that is no ServerUnderTest (a stand-in on port).
    void AddRouteServer(const std::string& name, unsigned port);

    // Starts the program, then the service at once with the console's
    // "start" command; true once the port listens and the service runs.
    bool Start();
    // How a run of the program ends.
    enum class Ending {
        kExitCommand,  // the console's "exit" command
        kSigterm,      // SIGTERM, as a service manager stops it
        kSigkill,      // SIGKILL: a crash, nothing is tidied up
    };
    // Ends the program; true when it ended as asked: by itself with status 0,
    // or, for kSigkill, by the signal.
    bool End(Ending how);
    bool Exit() { return End(Ending::kExitCommand); }
    // Types a console command and waits until the output holds `text` for
    // the `times`-th time in this run of the program.
    bool Command(const std::string& line, const std::string& text, int times = 1);
    // Waits until this run's output holds `text` `times` times.
    bool WaitForOutput(const std::string& text, int times = 1);
    // How often this run's output holds `text` so far.
    int Count(const std::string& text) const;

    // Everything the program printed, over all its runs.
    std::string Output() const;

    // Console output is UTF-8; test sources keep narrow literals in GBK, so
    // texts to look for in it are written as u8 literals.
    static std::string Utf8(const char8_t* text) { return reinterpret_cast<const char*>(text); }
    // Lines of the console, as printed on standard output.
    static std::string Listening(unsigned port);
    static const std::string kStarted;
    static const std::string kServiceOn;

private:
    void StartReading();
    void StopReading();

    std::string name_;
    unsigned port_;
    TempFolder folder_;
    ServerConfig config_;
    std::optional<QuorveldProcess> process_;
    std::string pastOutput_;
    // Guards the process's output while the reader thread runs.
    mutable std::mutex mutex_;
    std::atomic<bool> reading_{false};
    std::thread reader_;
};
