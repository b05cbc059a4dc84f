// The status block and the counters behind it: a real service on the
// console's loop, real clients, the delivery worker delivering.

#include "quorvel_host/CServerStatus.h"
#include "quorvel_service/CServiceCounters.h"
#include "ConsoleTestSupport.h"
#include "ServiceTestSupport.h"
#include "quorvel_test_support/WaitUntil.h"

#include "marlune/Marlune.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

using marlune::CMessageTransFile;
using marlune::CMessageUserTalking;
using quorvel::host::CServerStatus;
using quorvel::service::CServiceCounters;
using quorvel::testsupport::FreePort;
using quorvel::testsupport::ListeningSocket;
using quorvel::testsupport::WaitUntil;

using namespace std::chrono_literals;

namespace {

CMessageUserTalking Talking(const std::string& source, const std::string& target)
{
    CMessageUserTalking talking;
    talking.type = CMessageUserTalking::kType;
    talking.source = source;
    talking.target = target;
    talking.text = "hello";
    return talking;
}

class ServerStatus : public ConsoleTest {
protected:
    CServerStatus::Snapshot Snapshot()
    {
        CServerStatus::Snapshot snapshot;
        OnLoop([&] { snapshot = console_->Host().StatusSnapshot(); });
        return snapshot;
    }
    // The snapshot once `done` holds for it; the last one after 20 s.
    template <class Done>
    CServerStatus::Snapshot SnapshotWhen(Done done)
    {
        CServerStatus::Snapshot snapshot;
        WaitUntil([&] { return done(snapshot = Snapshot()); }, 20s);
        return snapshot;
    }
    std::string StatusCommand()
    {
        OnLoop([this] { console_->OnStatus(); });
        return view_.statuses.empty() ? std::string() : view_.statuses.back();
    }
};

std::size_t Received(const CServiceCounters::Values& values, const std::string& type)
{
    for (std::size_t i = 0; i < CServiceCounters::kTypes.size(); ++i)
        if (type == CServiceCounters::kTypes[i])
            return values.received[i];
    return 0;
}

} // namespace

TEST_F(ServerStatus, CountsLoginsRelayedStoredAndDeliveredMessages)
{
    const unsigned port = FreePort();
    WriteDirectory("hub", std::to_string(port));
    OnLoop([this] { console_->StartMsgService(); });
    ASSERT_EQ(ListeningPort(), port);

    TestClient alice(port);
    TestClient bob(port);
    TestClient stranger(port);
    ASSERT_EQ(alice.Login("alice", "pw"), "success");
    ASSERT_EQ(bob.Login("bob", "bob-pw", true), "success");
    ASSERT_EQ(stranger.Login("alice", "wrong"), "failed");

    // A chat message is stored and delivered by the worker; a file piece for
    // a connected user goes on at once; one for another server and one for
    // a user who is away stay pending.
    CMessageUserTalking toAlice = Talking("bob@hub", "alice@hub");
    ASSERT_TRUE(bob.Send(toAlice));
    ASSERT_TRUE(alice.ReceiveAs<CMessageUserTalking>());
    CMessageTransFile file;
    file.type = CMessageTransFile::kType;
    file.source = "alice@hub";
    file.target = "bob@hub";
    file.data = "QUJD";
    ASSERT_TRUE(alice.Send(file));
    ASSERT_TRUE(bob.ReceiveAs<CMessageTransFile>());
    CMessageUserTalking away = Talking("bob@hub", "carol@hub");
    CMessageUserTalking remote = Talking("bob@hub", "dave@elsewhere");
    ASSERT_TRUE(bob.Send(away));
    ASSERT_TRUE(bob.Send(remote));
    ASSERT_TRUE(bob.Sync());

    const CServerStatus::Snapshot s = SnapshotWhen(
        [](const CServerStatus::Snapshot& s) { return s.counters.delivered >= 1 && s.counters.stored >= 3; });
    EXPECT_TRUE(s.running);
    EXPECT_TRUE(s.listening);
    EXPECT_EQ(s.whyNotListening, "");
    EXPECT_EQ(s.port, port);
    EXPECT_EQ(s.connections, 3u);
    EXPECT_EQ(s.usersLoggedIn, 2u);
    EXPECT_EQ(s.counters.connections, 3u);
    EXPECT_EQ(s.counters.loginsOk, 2u);
    EXPECT_EQ(s.counters.loginsFailed, 1u);
    EXPECT_EQ(Received(s.counters, "user-login"), 3u);
    EXPECT_EQ(Received(s.counters, "user-talking"), 3u);
    EXPECT_EQ(Received(s.counters, "trans-file"), 1u);
    EXPECT_EQ(s.counters.relayed, 1u);
    EXPECT_EQ(s.counters.stored, 3u);
    EXPECT_EQ(s.counters.delivered, 1u);
    EXPECT_EQ(s.counters.routed, 0u);
    EXPECT_EQ(s.store.local.messages, 1u);
    EXPECT_EQ(s.store.other.messages, 1u);
    EXPECT_GT(s.store.local.bytes, 0u);
    EXPECT_GT(s.store.other.bytes, 0u);
    EXPECT_EQ(s.store.indexFileBytes, 8u + 3u * 132u);
    EXPECT_GT(s.store.dataFileBytes, s.store.local.bytes + s.store.other.bytes);
    EXPECT_GT(s.residentBytes, 0u);

    const std::string block = StatusCommand();
    EXPECT_EQ(block.rfind("status: listening on port " + std::to_string(port) + "\n", 0), 0u) << block;
    EXPECT_NE(block.find("\nconnections: 3 open, 3 accepted since start; users logged in: 2; logins: 2 ok, 1 failed\n"),
              std::string::npos)
        << block;
    EXPECT_NE(block.find("\npending stored messages: 1 for local users ("), std::string::npos) << block;
    EXPECT_NE(block.find("\nstore files: msg_index.dat 404 bytes, msg_data.dat "), std::string::npos) << block;
    EXPECT_NE(block.find(" relayed, 3 stored, 1 delivered, 0 routed"), std::string::npos) << block;
    EXPECT_EQ(block.find("refused"), std::string::npos) << block;
    EXPECT_EQ(block.back(), 'd');
}

TEST_F(ServerStatus, SaysWhyTheServiceDoesNotListen)
{
    EXPECT_EQ(StatusCommand().rfind("status: not listening: the service is stopped\n", 0), 0u);

    // The directory file is missing.
    OnLoop([this] { console_->StartMsgService(); });
    EXPECT_NE(StatusCommand().find("not listening: the directory file "), std::string::npos);
    OnLoop([this] { console_->StopMsgService(); });

    // A refused port.
    WriteDirectory("hub", "80");
    OnLoop([this] { console_->StartMsgService(); });
    EXPECT_NE(StatusCommand().find("not listening: port 80 refused"), std::string::npos);
    OnLoop([this] { console_->StopMsgService(); });

    // A port another program holds: the system's reason.
    ListeningSocket holder;
    WriteDirectory("hub", std::to_string(holder.Port()));
    OnLoop([this] { console_->StartMsgService(); });
    const std::string block = StatusCommand();
    EXPECT_NE(block.find("not listening: port " + std::to_string(holder.Port()) + ": "), std::string::npos) << block;
    EXPECT_NE(block.find("(tried again every 3 s)"), std::string::npos) << block;
}

TEST(ServiceCounters, RefusalsAreCountedPerLimitAndBoundedInNames)
{
    CServiceCounters counters;
    counters.CountRefused("MaxFriends");
    counters.CountRefused("MaxFriends");
    static const std::string kept = "StoreTargetPendingBytes"; // same text, another address
    counters.CountRefused("StoreTargetPendingBytes");
    counters.CountRefused(kept.c_str());
    // Past the table's room, further names count as "other".
    static const std::vector<std::string> names = [] {
        std::vector<std::string> made;
        for (std::size_t i = 0; i < CServiceCounters::kMaxLimits + 5; ++i)
            made.push_back("Limit" + std::to_string(i));
        return made;
    }();
    for (const std::string& name : names)
        counters.CountRefused(name.c_str());

    const CServiceCounters::Values values = counters.Read();
    ASSERT_EQ(values.refused.size(), CServiceCounters::kMaxLimits);
    EXPECT_EQ(values.refused[0], std::make_pair(std::string("MaxFriends"), std::uint64_t{2}));
    EXPECT_EQ(values.refused[1], std::make_pair(std::string("StoreTargetPendingBytes"), std::uint64_t{2}));
    EXPECT_EQ(values.refused.back().first, "other");
    std::uint64_t total = 0;
    for (const auto& [name, count] : values.refused)
        total += count;
    EXPECT_EQ(total, 4 + names.size());
}

TEST(ServiceCounters, TypesOutsideTheKnownOnesAreOtherOrUnparsed)
{
    CServiceCounters counters;
    counters.CountReceived("user-talking");
    counters.CountReceived("x-future");
    counters.CountReceived("");
    const CServiceCounters::Values values = counters.Read();
    EXPECT_EQ(Received(values, "user-talking"), 1u);
    EXPECT_EQ(Received(values, "other"), 1u);
    EXPECT_EQ(Received(values, "unparsed"), 1u);
}
