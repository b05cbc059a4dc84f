#include "quorvel_client/CCommandLine.h"

#include <gtest/gtest.h>

using quorvel::client::CCommandLine;

TEST(CommandLine, SplitsWordsAndFoldsTheVerb)
{
    CCommandLine cmd;
    std::string error;
    ASSERT_TRUE(cmd.Parse("  LOGIN\talice   secret online ", error));
    EXPECT_EQ(cmd.Verb(), "login");
    ASSERT_EQ(cmd.Count(), 3u);
    EXPECT_EQ(cmd.Arg(0), "alice");
    EXPECT_EQ(cmd.Arg(1), "secret");
    EXPECT_EQ(cmd.Arg(2), "online");
}

TEST(CommandLine, QuotedWordsKeepBlanksAndEscapes)
{
    CCommandLine cmd;
    std::string error;
    ASSERT_TRUE(cmd.Parse(R"(register bob "Bob \"B\" Smith" M "pa ss\\" 123)", error));
    ASSERT_EQ(cmd.Count(), 5u);
    EXPECT_EQ(cmd.Arg(1), "Bob \"B\" Smith");
    EXPECT_EQ(cmd.Arg(3), "pa ss\\");
    EXPECT_FALSE(cmd.Parse("say bob \"open", error));
    EXPECT_EQ(error, "unterminated quote");
}

TEST(CommandLine, RestKeepsTheTextAsTyped)
{
    CCommandLine cmd;
    std::string error;
    ASSERT_TRUE(cmd.Parse("say bob@hub   hello,   \"world\"  \r", error));
    EXPECT_EQ(cmd.Rest(1), "hello,   \"world\"");
    EXPECT_EQ(cmd.Rest(0), "bob@hub   hello,   \"world\"");
    EXPECT_EQ(cmd.Rest(5), "");
}

TEST(CommandLine, BlankLinesAndCommentsHoldNoCommand)
{
    CCommandLine cmd;
    std::string error;
    for (const char* line : {"", "   ", "# a comment", "   # indented comment"}) {
        ASSERT_TRUE(cmd.Parse(line, error)) << line;
        EXPECT_TRUE(cmd.Empty()) << line;
    }
    ASSERT_TRUE(cmd.Parse("say bob #1", error));
    EXPECT_EQ(cmd.Arg(1), "#1");
}
