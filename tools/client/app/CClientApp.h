#pragma once

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <string_view>

class CClientConnection;
class CClientOutput;
class CClientSession;
class CCommandLine;
class CLineReader;

// The quorvel-client program: options, the connection, and the input loop.
//
//   quorvel-client [--json] [--script FILE] [--linger SECONDS] HOST PORT
//
// Commands come from FILE or standard input, one per line; received
// messages are printed as they arrive. The session (on the connection's
// loop thread) runs every command but "wait" and "expect", which pause the
// input here. The program ends at "quit", at the end of the input (after
// lingering for late replies) or when the server closes the connection.
// Main thread only.
class CClientApp {
public:
    static constexpr int kExitOk = 0;          // quit, or end of input
    static constexpr int kExitConnection = 1;  // could not connect, or connection lost
    static constexpr int kExitUsage = 2;       // bad options, unreadable script
    static constexpr int kExitExpect = 3;      // an "expect" saw no message in time

    CClientApp();
    ~CClientApp();

    int Run(int argc, char** argv);

private:
    bool ParseOptions(int argc, char** argv);
    int Session(CLineReader& reader);
    // Runs one line; false when the session must end (exitCode_ says how).
    bool RunLine(const std::string& line);
    // Waits `seconds` while messages keep arriving; false when the
    // connection was lost meanwhile.
    bool Pause(std::chrono::milliseconds time);
    bool Expect(const CCommandLine& cmd);
    static bool ParseSeconds(std::string_view text, std::chrono::milliseconds& time);

    std::unique_ptr<CClientOutput> out_;
    std::unique_ptr<CClientSession> session_;
    std::unique_ptr<CClientConnection> connection_;
    std::atomic<bool> lost_{false};
    std::map<std::string, std::size_t> expected_;  // messages of each type taken by "expect"
    bool json_ = false;
    std::string script_;
    std::string host_;
    int port_ = 0;
    std::chrono::milliseconds linger_{-1};
    int exitCode_ = kExitOk;
};
