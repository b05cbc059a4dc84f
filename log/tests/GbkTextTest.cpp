#include "scrivlet/GbkText.h"

#include <gtest/gtest.h>

#include <string>

using scrivlet::AppendEscapingControls;
using scrivlet::GbkPrefixLength;

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

namespace {

std::string Escaped(const std::string& text)
{
    std::string out = ">";
    AppendEscapingControls(out, text.c_str());
    return out;
}

} // namespace

TEST(AppendEscapingControls, WritesControlBytesAsEscapes)
{
    EXPECT_EQ(Escaped("plain 日志"), ">plain 日志");
    EXPECT_EQ(Escaped(""), ">");
    EXPECT_EQ(Escaped("a\r\nb\tc"), ">a\\r\\nb\\tc");
    EXPECT_EQ(Escaped("\x1b[2J\x01\x1f\x7f"), ">\\x1b[2J\\x01\\x1f\\x7f");
    EXPECT_EQ(Escaped("back\\slash"), ">back\\slash");
}

TEST(AppendEscapingControls, LeavesGbkCharactersWhole)
{
    // Trail bytes in the ASCII range, and 0x81 as lead and as trail byte.
    EXPECT_EQ(Escaped("\x81\x40\xB0\x81z\n"), ">\x81\x40\xB0\x81z\\n");
    // A four-byte character that is no control (U+00A0), and one cut short.
    EXPECT_EQ(Escaped("\x81\x30\x84\x32\x81\x30"), ">\x81\x30\x84\x32\x81\x30");
    // A lead byte followed by a control is a stray byte; the control is escaped.
    EXPECT_EQ(Escaped("\xC8\n\x81\x30\r"), ">\xC8\\n\x81\x30\\r");
    // 0x81 0x30 across a character boundary is no C1 control.
    EXPECT_EQ(Escaped("\xB0\x81\x30\x83\x37"), ">\xB0\x81\x30\x83\x37");
}

TEST(AppendEscapingControls, WritesC1ControlsAsCodePoints)
{
    // U+0080, U+009B (the one-byte CSI) and U+009F in GB18030; U+00A0 is none.
    EXPECT_EQ(Escaped("\x81\x30\x81\x30\x81\x30\x83\x37[2J\x81\x30\x84\x31\x81\x30\x84\x32"),
              ">\\u0080\\u009b[2J\\u009f\x81\x30\x84\x32");
}
