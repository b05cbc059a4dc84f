#include "HubResponder.h"
#include "TestListener.h"

#include "quorvel_client/CClientConnection.h"
#include "quorvel_client/CClientOutput.h"
#include "quorvel_client/CClientSession.h"
#include "quorvel_client/CSyncClient.h"

#include <marlune/Marlune.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <sstream>

using marlune::CMessageBase;
using marlune::CMessageUserLogin;
using marlune::CMessageUserTalking;
using marlune::CXmlMsg;
using quorvel::client::CClientConnection;
using quorvel::client::CClientOutput;
using quorvel::client::CClientSession;
using quorvel::client::CSyncClient;

namespace {

std::unique_ptr<CMessageBase> Parse(const std::string& payload)
{
    return CXmlMsg().ParseXmlNew(payload.data(), payload.size(), nullptr);
}

} // namespace

TEST(ClientConnection, SessionTalksToAServerOverTheWire)
{
    ListenerFixture server(HubResponder());
    ASSERT_NE(server.Port(), 0u);

    std::ostringstream lines;
    std::ostringstream errors;
    CClientOutput output(lines, errors);
    std::unique_ptr<CClientConnection> connection;
    CClientSession session([&](CMessageBase& msg) { return connection->Send(msg); }, output, false,
                           std::filesystem::temp_directory_path());
    std::atomic<bool> closed{false};
    connection = std::make_unique<CClientConnection>(
        [&](const std::uint8_t* data, std::size_t length) { session.Receive(data, length); }, [&] { closed = true; });
    ASSERT_TRUE(connection->Connect("127.0.0.1", static_cast<int>(server.Port())));
    auto run = [&](const char* line) { connection->Loop().Call([&] { session.Execute(line); }); };
    auto printed = [&] { return connection->Loop().Call([&] { return lines.str(); }).value_or(""); };

    run("login alice secret");
    ASSERT_TRUE(WaitUntil([&] { return printed().find("user-login") != std::string::npos; }));
    run("say bob hello there");
    ASSERT_TRUE(WaitUntil([&] { return server.Listener().Payloads().size() == 2; }));
    ASSERT_TRUE(WaitUntil([&] { return printed().find("hello back") != std::string::npos; }));

    const auto payloads = server.Listener().Payloads();
    auto login = Parse(payloads[0]);
    ASSERT_NE(dynamic_cast<CMessageUserLogin*>(login.get()), nullptr);
    EXPECT_EQ(static_cast<CMessageUserLogin&>(*login).userId, "alice");
    auto talk = Parse(payloads[1]);
    ASSERT_NE(dynamic_cast<CMessageUserTalking*>(talk.get()), nullptr);
    EXPECT_EQ(talk->source, "alice@hub");
    EXPECT_EQ(talk->target, "bob@hub");
    EXPECT_TRUE(talk->routedServers.empty());
    EXPECT_EQ(static_cast<CMessageUserTalking&>(*talk).text, "hello there");
    EXPECT_EQ(printed(), "user-login from alice: alice success\n"
                         "user-talking from bob@hub to alice@hub: hello back\n");

    EXPECT_FALSE(closed);
    server.CloseClients();
    EXPECT_TRUE(WaitUntil([&] { return closed.load(); }));
    EXPECT_FALSE(connection->Connected());
    connection.reset();
    EXPECT_EQ(errors.str(), "");
}

TEST(ClientConnection, ConnectFailsCleanlyWithoutAServer)
{
    unsigned port = 0;
    {
        ListenerFixture gone(nullptr);
        port = gone.Port();
    }
    CClientConnection connection(nullptr, nullptr);
    EXPECT_FALSE(connection.Connect("127.0.0.1", static_cast<int>(port)));
    EXPECT_FALSE(connection.Connected());
    EXPECT_FALSE(connection.SendPayload("<msg/>"));
}

TEST(SyncClient, LogsInSaysAndWaitsForTheAnswer)
{
    ListenerFixture server(HubResponder());
    CSyncClient client;
    ASSERT_TRUE(client.Connect("127.0.0.1", static_cast<int>(server.Port())));
    EXPECT_FALSE(client.Login("alice", "wrong"));
    EXPECT_FALSE(client.Identity().LoggedIn());
    ASSERT_TRUE(client.Login("alice", "secret"));
    EXPECT_EQ(client.Identity().Address(), "alice@hub");

    ASSERT_TRUE(client.Say("bob", "hi"));
    ASSERT_TRUE(client.Say("bob@hub", "again"));
    auto first = client.WaitFor(CMessageUserTalking::kType);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->source, "bob@hub");
    EXPECT_EQ(static_cast<CMessageUserTalking&>(*first).text, "hello back");
    EXPECT_NE(client.WaitFor(CMessageUserTalking::kType), nullptr);
    EXPECT_EQ(client.WaitFor("", std::chrono::milliseconds(100)), nullptr);
    EXPECT_EQ(client.Unreadable(), 0u);

    server.CloseClients();
    EXPECT_TRUE(WaitUntil([&] { return client.Closed(); }));
    EXPECT_EQ(client.WaitFor(""), nullptr);
}
