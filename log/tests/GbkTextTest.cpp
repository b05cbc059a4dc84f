#include "scrivlet/GbkText.h"

#include <gtest/gtest.h>

#include <string>

TEST(GbkPrefixLength, KeepsOrDropsWholeCharacters)
{
    const std::string text = "ab日志";  // a b C8D5 D6BE
    EXPECT_EQ(GbkPrefixLength(text, 10), 6u);
    EXPECT_EQ(GbkPrefixLength(text, 6), 6u);
    EXPECT_EQ(GbkPrefixLength(text, 5), 4u);
    EXPECT_EQ(GbkPrefixLength(text, 4), 4u);
    EXPECT_EQ(GbkPrefixLength(text, 3), 2u);
    EXPECT_EQ(GbkPrefixLength(text, 0), 0u);
}

TEST(GbkPrefixLength, TreatsACharacterRunningPastTheEndAsCut)
{
    // The start of a longer text whose last character lost its trail byte.
    EXPECT_EQ(GbkPrefixLength(std::string("ab\xC8"), 3), 2u);
    // A trail byte in the ASCII range (0x40-0x7E) still belongs to its lead.
    EXPECT_EQ(GbkPrefixLength(std::string("\x81\x40z"), 2), 2u);
    EXPECT_EQ(GbkPrefixLength(std::string("\x81\x40z"), 1), 0u);
}

TEST(GbkPrefixLength, KeepsFourByteSequencesWhole)
{
    const std::string text = std::string("a") + "\x81\x30\x81\x30" + "b";
    EXPECT_EQ(GbkPrefixLength(text, 6), 6u);
    EXPECT_EQ(GbkPrefixLength(text, 5), 5u);
    EXPECT_EQ(GbkPrefixLength(text, 4), 1u);
    EXPECT_EQ(GbkPrefixLength(text, 2), 1u);
}
