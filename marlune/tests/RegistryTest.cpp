#include "marlune/CTalker.h"
#include "marlune/CTalkerServer.h"

#include <gtest/gtest.h>

namespace {

CTalker MakeTalker(const std::string& id, const std::string& name)
{
    CTalker talker;
    talker.userId = id;
    talker.name = name;
    return talker;
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
    EXPECT_EQ(server.talkers.size(), 101u);
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
    ASSERT_EQ(copy.talkers.size(), 2u);
    EXPECT_NE(copy.talkers[0].get(), server.talkers[0].get());

    server.ReleaseAll();
    EXPECT_TRUE(server.talkers.empty());
    EXPECT_EQ(server.GetTalkerByUserID("a"), nullptr);
    EXPECT_EQ(copy.GetTalkerByUserID("b")->userId, "b");

    server = copy;
    EXPECT_EQ(server.talkers.size(), 2u);
    server = server;
    EXPECT_EQ(server.talkers.size(), 2u);
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
