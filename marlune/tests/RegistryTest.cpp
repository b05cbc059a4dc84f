#include "marlune/CTalker.h"
#include "marlune/CTalkerServer.h"

#include <gtest/gtest.h>

using marlune::CTalker;
using marlune::CTalkerServer;

namespace {

CTalker MakeTalker(const std::string& id, const std::string& name)
{
    CTalker talker;
    talker.userId = id;
    talker.name = name;
    return talker;
}

// Two records with the id "bob": "first" with password "one", then "second"
// with "two" (one stored as a copy, the other moved in).
void AddBobTwice(CTalkerServer& server)
{
    CTalker first = MakeTalker("bob", "first");
    first.password = "one";
    CTalker second = MakeTalker("bob", "second");
    second.password = "two";
    server.AddTalker(first);
    server.AddTalker(std::move(second));
}

} // namespace

TEST(TalkerServer, AddTalkerStoresACopyAtAStableAddress)
{
    CTalkerServer server;
    CTalker alice = MakeTalker("alice", "爱丽丝");
    CTalker* stored = server.AddTalker(alice);
    ASSERT_NE(stored, nullptr);
    EXPECT_NE(stored, &alice);
    alice.name = "changed";
    EXPECT_EQ(stored->name, "爱丽丝");

    for (int i = 0; i < 100; ++i) {
        server.AddTalker(MakeTalker("u" + std::to_string(i), ""));
    }
    EXPECT_EQ(server.GetTalkerByUserID("alice"), stored);
    EXPECT_EQ(server.Talkers().size(), 101u);
}

TEST(TalkerServer, LookupsMatchWholeIdsExactly)
{
    CTalkerServer server;
    server.AddTalker(MakeTalker("bob", "first"));
    server.AddTalker(MakeTalker("bob", "second"));
    EXPECT_EQ(server.GetTalkerByUserID("bob")->name, "first");
    EXPECT_EQ(server.GetTalkerByUserID("Bob"), nullptr);
    EXPECT_EQ(server.GetTalkerByUserID("bo"), nullptr);
    EXPECT_EQ(server.GetTalkerByUserID(""), nullptr);
}

TEST(TalkerServer, SetTalkerStatuChangesTheRecordOrGivesNull)
{
    CTalkerServer server;
    server.AddTalker(MakeTalker("bob", ""));
    CTalker* bob = server.SetTalkerStatu("bob", "online");
    ASSERT_NE(bob, nullptr);
    EXPECT_EQ(bob->statu, "online");
    EXPECT_EQ(server.SetTalkerStatu("nobody", "online"), nullptr);
}

TEST(TalkerServer, ReleaseAllEmptiesAndCopiesAreDeep)
{
    CTalkerServer server;
    server.name = "hub";
    server.AddTalker(MakeTalker("a", ""));
    server.AddTalker(MakeTalker("b", ""));

    CTalkerServer copy = server;
    EXPECT_EQ(copy.name, "hub");
    ASSERT_EQ(copy.Talkers().size(), 2u);
    EXPECT_NE(copy.Talkers()[0].get(), server.Talkers()[0].get());

    server.ReleaseAll();
    EXPECT_TRUE(server.Talkers().empty());
    EXPECT_EQ(server.GetTalkerByUserID("a"), nullptr);
    EXPECT_EQ(copy.GetTalkerByUserID("b")->userId, "b");

    server = copy;
    EXPECT_EQ(server.Talkers().size(), 2u);
    server = server;
    EXPECT_EQ(server.Talkers().size(), 2u);
}

TEST(TalkerServer, CopiesAndMovesFindTheirOwnRecords)
{
    CTalkerServer server;
    for (int i = 0; i < 1000; ++i) {
        server.AddTalker(MakeTalker("u" + std::to_string(i), "n" + std::to_string(i)));
    }
    CTalkerServer copy = server;
    ASSERT_NE(copy.GetTalkerByUserID("u500"), nullptr);
    EXPECT_NE(copy.GetTalkerByUserID("u500"), server.GetTalkerByUserID("u500"));
    EXPECT_EQ(copy.GetTalkerByUserID("u500"), copy.Talkers()[500].get());

    CTalker* kept = server.GetTalkerByUserID("u999");
    CTalkerServer moved = std::move(server);
    EXPECT_EQ(moved.GetTalkerByUserID("u999"), kept);

    CTalkerServer assigned;
    assigned.AddTalker(MakeTalker("old", ""));
    assigned = copy;
    EXPECT_EQ(assigned.GetTalkerByUserID("old"), nullptr);
    EXPECT_EQ(assigned.GetTalkerByUserID("u0"), assigned.Talkers()[0].get());
    assigned = std::move(moved);
    EXPECT_EQ(assigned.GetTalkerByUserID("u999"), kept);
}

// A copy indexes its records at its first look-up; users added before that
// and ids held twice must come out as they do in the original.
TEST(TalkerServer, ACopyFindsWhatTheOriginalFindsWhateverComesFirst)
{
    CTalkerServer server;
    AddBobTwice(server);

    CTalkerServer added = server;
    CTalker* carol = added.AddTalker(MakeTalker("carol", ""));
    added.Reserve(10);
    added.AddTalker(MakeTalker("bob", "third"));
    EXPECT_EQ(added.GetTalkerByUserID("carol"), carol);
    EXPECT_EQ(added.GetTalkerByUserID("bob"), added.Talkers()[0].get());
    EXPECT_EQ(added.GetTalkerByLogin("bob", "two"), added.Talkers()[1].get()) << "a repeated id is still seen";
    EXPECT_EQ(added.GetTalkerByLogin("bob", "three"), nullptr);

    CTalkerServer loggedIn = server;
    EXPECT_EQ(loggedIn.GetTalkerByLogin("bob", "two")->name, "second") << "login as the first look-up";
    const CTalkerServer readOnly = server;
    EXPECT_EQ(readOnly.GetTalkerByUserID("bob")->name, "first") << "a const look-up indexes too";
    EXPECT_EQ(CTalkerServer(readOnly).SetTalkerStatu("bob", "online")->name, "first");

    CTalkerServer released = server;
    released.ReleaseAll();
    released.AddTalker(MakeTalker("dave", ""));
    EXPECT_EQ(released.GetTalkerByUserID("bob"), nullptr);
    EXPECT_EQ(released.GetTalkerByUserID("dave"), released.Talkers()[0].get());
}

TEST(TalkerServer, LoginFindsTheFirstRecordWithTheIdAndPassword)
{
    CTalkerServer server;
    AddBobTwice(server);
    server.AddTalker(MakeTalker("carol", ""));

    EXPECT_EQ(server.GetTalkerByLogin("bob", "one")->name, "first");
    EXPECT_EQ(server.GetTalkerByLogin("bob", "two")->name, "second");
    EXPECT_EQ(server.GetTalkerByLogin("bob", "three"), nullptr);
    EXPECT_EQ(server.GetTalkerByLogin("carol", ""), server.Talkers()[2].get());
    EXPECT_EQ(server.GetTalkerByLogin("carol", "x"), nullptr);
    EXPECT_EQ(server.GetTalkerByLogin("dave", ""), nullptr);
}

TEST(Talker, AddFriendJoinsWithSlashAndSkipsRepeats)
{
    CTalker talker;
    EXPECT_TRUE(talker.AddFriend("bob@hub"));
    EXPECT_TRUE(talker.AddFriend("carol@edge"));
    EXPECT_EQ(talker.friends, "bob@hub/carol@edge");

    EXPECT_FALSE(talker.AddFriend("bob@hub"));
    EXPECT_FALSE(talker.AddFriend("carol@edge"));
    EXPECT_FALSE(talker.AddFriend(""));
    EXPECT_EQ(talker.friends, "bob@hub/carol@edge");

    // A prefix or suffix of a listed friend is another friend.
    EXPECT_TRUE(talker.AddFriend("bob@hu"));
    EXPECT_TRUE(talker.AddFriend("ob@hub"));
    EXPECT_EQ(talker.friends, "bob@hub/carol@edge/bob@hu/ob@hub");
}

TEST(TalkerServer, PortNumberReadsTheLeadingDigitsOfThePortText)
{
    CTalkerServer server;
    const auto port = [&server](const char* text) {
        server.port = text;
        return server.PortNumber();
    };
    EXPECT_EQ(port("8801"), 8801u);
    EXPECT_EQ(port("88x02"), 88u);
    EXPECT_EQ(port("65535"), 65535u);
    EXPECT_EQ(port("x8802"), 0u) << "no leading digit: port 0";
    EXPECT_EQ(port(" 8801"), 0u) << "a blank is not a digit";
    EXPECT_EQ(port("-8801"), 0u);
    EXPECT_EQ(port(""), 0u);
    EXPECT_EQ(port("65536"), CTalkerServer::kNoPort);
    EXPECT_EQ(port("99999999999999999999"), CTalkerServer::kNoPort) << "no wrap-around into a real port";
}

TEST(TalkerServer, IdentityCopiesTheServerWithoutItsUsers)
{
    CTalkerServer server;
    server.name = "北京";
    server.ip = "127.0.0.1";
    server.port = "8801";
    server.description = "总部";
    server.AddTalker(MakeTalker("alice", ""));
    const CTalkerServer identity = server.Identity();
    EXPECT_EQ(identity.name, server.name);
    EXPECT_EQ(identity.ip, server.ip);
    EXPECT_EQ(identity.port, server.port);
    EXPECT_EQ(identity.description, server.description);
    EXPECT_TRUE(identity.Talkers().empty());
}

TEST(TalkerServer, ForbiddenNameCharFindsTheAddressSeparators)
{
    EXPECT_EQ(CTalkerServer::ForbiddenNameChar("北京-1"), '\0');
    EXPECT_EQ(CTalkerServer::ForbiddenNameChar(""), '\0');
    EXPECT_EQ(CTalkerServer::ForbiddenNameChar("a@b"), '@');
    EXPECT_EQ(CTalkerServer::ForbiddenNameChar("a/b@c"), '/') << "the first one met";
}
