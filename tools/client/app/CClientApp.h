#pragma once

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace quorvel::client {
class CClientConnection;
class CClientOutput;
class CClientSession;
class CCommandLine;
}
using quorvel::client::CClientConnection;
using quorvel::client::CClientOutput;
using quorvel::client::CClientSession;
using quorvel::client::CCommandLine;

class CLineReader;

// The quorvel-client program: options, the connection, and the input loop.
//
//   quorvel-client [--json] [--script FILE] [--linger SECONDS] HOST PORT
//   quorvel-client --help
//
// Commands come from FILE or standard input, one per line; received
// messages are printed as they arrive. The session (on the connection's
// loop thread) runs every command but "wait" and "expect", which pause the
// input here; a command held back by the session until earlier answers
// came is run again once they did (or after kAnswerWait). The program ends
// at "quit" or at the end of the input (after the outstanding answers, and
// lingering for late replies at the end of the input), or when the server
// closes the connection.
// Main thread only.
class CClientApp {
public:
    static constexpr int kExitOk = 0;          // quit, or end of input
    static constexpr int kExitConnection = 1;  // could not connect, or connection lost
    static constexpr int kExitUsage = 2;       // bad options, unreadable script
    static constexpr int kExitExpect = 3;      // an "expect" saw no message in time
    static constexpr int kExitFailed = 4;      // the session ended normally, but a command failed

    // Longest wait for the answer to a login, registration or profile change
    // before the commands after it run anyway.
    static constexpr std::chrono::seconds kAnswerWait{10};

    CClientApp();
    ~CClientApp();

    int Run(int argc, char** argv);

private:
    enum class Options { kRun, kHelp, kBad };
    Options ParseOptions(int argc, char** argv);
    int Session(CLineReader& reader);
    // Runs one line; false when the session must end (exitCode_ says how).
    bool RunLine(const std::string& line);
    // Runs a session command, first waiting for outstanding answers when the
    // session holds it back; false when the session must end.
    bool Execute(const std::string& line);
    // Waits up to kAnswerWait for the session's outstanding answers, then
    // gives up on them; false when the connection was lost meanwhile.
    bool AwaitAnswers();
    // The status of a session that ended normally.
    int NormalEnd();
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
    bool failed_ = false;  // a command handled here ("wait", "expect") was mistyped
};
