#pragma once

#include "quorvel_client/CClientIdentity.h"
#include "quorvel_client/CCommandLine.h"
#include "quorvel_client/CFileReceiver.h"
#include "quorvel_client/CRequestBuilder.h"

#include <marlune/CMessageUserFriend.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace marlune {
class CMessageBase;
}

namespace quorvel::client {

class CClientOutput;

// The commands of one client session and what it makes of the messages it
// receives. A command line becomes a request built afresh and handed to the
// sender; a received payload becomes one output line, and updates the
// session: a successful login sets who this client is (its user id, and its
// server from the reply's routed list), a friend request is kept until it is
// accepted, file chunks are stored in the download folder.
//
// Commands run in the order typed: while the answer to a login, forced
// login, registration or profile change is outstanding, a command that goes
// to the server is held back (Execute returns kWait) until the answer came,
// so a "say" right after a "login" is sent as the user just logged in.
// Every command that fails (mistyped, not sendable, refused by the server)
// prints one error line and is counted in Failures().
//
// Texts typed by the user and printed are UTF-8; messages carry GBK.
// Threads: one thread owns a session (the connection's loop thread in the
// program): Execute and Receive must run on it.
class CClientSession {
public:
    using Sender = std::function<bool(marlune::CMessageBase& msg)>;
    // kWait: the command was not run because answers are outstanding; run
    // it again once AnswersDue() is false or after AnswersOverdue().
    enum class Step { kContinue, kQuit, kWait };

    CClientSession(Sender send, CClientOutput& output, bool json, std::filesystem::path downloads);

    // Runs one input line; problems are reported as one error line each.
    Step Execute(std::string_view line);
    // Handles one received frame payload.
    void Receive(const std::uint8_t* data, std::size_t length);

    // True while a login, registration or profile change awaits its answer.
    bool AnswersDue() const { return loginsDue_ + changesDue_ > 0; }
    // Gives up on the outstanding answers: one error line, counted as a
    // failure; commands run again without waiting.
    void AnswersOverdue();
    // Commands that failed so far.
    std::size_t Failures() const { return failures_; }

    // Messages of `type` received so far.
    std::size_t ReceivedCount(const std::string& type) const;
    const CClientIdentity& Identity() const { return me_; }

    // The command summary printed by "help".
    static const char* HelpText();

private:
    using Handler = void (CClientSession::*)(const CCommandLine& cmd);
    struct Command {
        Handler handler;
        std::size_t minArgs;
        std::size_t maxArgs;
        const char* usage;
        bool local;  // runs without the server, so never waits for answers
    };
    static const std::map<std::string, Command>& Commands();

    void Login(const CCommandLine& cmd);
    void Force(const CCommandLine& cmd);
    void Register(const CCommandLine& cmd);
    void Modify(const CCommandLine& cmd);
    void Status(const CCommandLine& cmd);
    void Say(const CCommandLine& cmd);
    void File(const CCommandLine& cmd);
    void Info(const CCommandLine& cmd);
    void List(const CCommandLine& cmd);
    void Online(const CCommandLine& cmd);
    void Friend(const CCommandLine& cmd);
    void Accept(const CCommandLine& cmd);
    void Heart(const CCommandLine& cmd);
    void Help(const CCommandLine& cmd);

    // One error line for a failed command, counted.
    void Fail(std::string_view text);
    // Sends a request; an error line when it could not be sent.
    bool Send(marlune::CMessageBase& msg);
    // Sends a request whose answer later commands wait for; counts it in `due`.
    void SendAwaiting(marlune::CMessageBase& msg, std::size_t& due);
    // UTF-8 input to GBK; false (with an error line) when it is not UTF-8.
    bool ToGbk(std::string_view utf8, std::string& gbk);
    // True when logged in; otherwise an error line.
    bool RequireLogin();
    // An address typed by the user, completed with the own server (GBK).
    bool DeliveryAddress(std::string_view typed, std::string& address);
    // Argument i as a free text: a single quoted word loses its quotes,
    // several words are taken as typed.
    static std::string FreeText(const CCommandLine& cmd, std::size_t i);

    Step Run(std::string_view line);
    void Handle(const std::uint8_t* data, std::size_t length);
    void OnMessage(marlune::CMessageBase& msg);
    void OnLoginReply(const marlune::CMessageBase& msg);
    void OnRegReply(const marlune::CMessageBase& msg);
    void OnFriend(const marlune::CMessageUserFriend& msg);
    void OnFileChunk(marlune::CMessageBase& msg);

    Sender send_;
    CClientOutput& out_;
    bool json_;
    CClientIdentity me_;
    CRequestBuilder builder_{me_};
    std::string pendingLogin_;  // the address of the last login sent (GBK)
    std::size_t loginsDue_ = 0;   // logins sent without their answer yet
    std::size_t changesDue_ = 0;  // registrations and profile changes likewise
    bool loginRefused_ = false;   // the last login answer was a refusal
    std::size_t failures_ = 0;
    std::map<std::string, marlune::CMessageUserFriend> friendRequests_;  // by the asker's address
    CFileReceiver files_;
    std::map<std::string, std::size_t> received_;
};

} // namespace quorvel::client
