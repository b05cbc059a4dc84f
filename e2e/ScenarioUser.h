#pragma once

#include "ServerUnderTest.h"

#include <quorvel_client/CSyncClient.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

using marlune::CMessageBase;
using quorvel::client::CSyncClient;

// One user of a scenario: a CSyncClient connected to a ServerUnderTest, and
// the calls a scenario makes with it. Waits are bounded by kWait, long
// enough for a loaded machine; a healthy server answers in milliseconds and
// delivers a stored message within about a second. Texts are GBK.
// One thread at a time.
class ScenarioUser {
public:
    static constexpr std::chrono::milliseconds kWait{15000};

    ScenarioUser(const ServerUnderTest& server, std::string id, std::string password);

    // Connects anew (closing a connection still open); true when connected.
    bool Connect();
    // Registers the user on a fresh connection (name = id); true on "success".
    bool Register();
    // Logs in on a fresh connection; true on "success".
    bool LogIn(const std::string& statu = {});
    // Closes the connection: the server sees the user leave.
    void LogOut();

    // Sends a chat message to `target` (a full address).
    bool Say(const std::string& target, const std::string& text);
    // Sends a request built by the client's builder.
    bool Send(std::unique_ptr<CMessageBase> msg) { return msg && client_->Send(*msg); }
    // Asks for the own profile and waits for the answer. The server handles a
    // connection's messages in order, so everything sent before has been
    // handled (stored, forwarded or answered) once this returns true.
    bool Sync();

    // Waits for the next message of type T that satisfies `pred`.
    template <class T>
    std::unique_ptr<T> Next(const CSyncClient::Predicate& pred = {}, std::chrono::milliseconds limit = kWait)
    {
        auto msg = client_->WaitFor(T::kType, limit, pred);
        return std::unique_ptr<T>(static_cast<T*>(msg.release()));
    }
    // The texts of the next `count` chat messages, in the order they came
    // (fewer when the wait ran out first).
    std::vector<std::string> Chats(std::size_t count, std::chrono::milliseconds limit = kWait);
    // The texts of the chat messages that are queued now, after a pause of
    // `pause` for late ones.
    std::vector<std::string> ChatsArrivingWithin(std::chrono::milliseconds pause);
    // The next status change announced for `userId`, or "" when none came.
    std::string NextStatusOf(const std::string& userId);

    const std::string& Id() const { return id_; }
    // "id@server" as the server names this user.
    std::string Address() const { return id_ + "@" + server_.Name(); }
    CSyncClient& Client() { return *client_; }

private:
    const ServerUnderTest& server_;
    std::string id_;
    std::string password_;
    std::unique_ptr<CSyncClient> client_;
};
