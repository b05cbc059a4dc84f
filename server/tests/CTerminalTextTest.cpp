#include "quorvel_shell/CTerminalText.h"
#include "quorvel_test_support/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdio>

using quorvel::shell::CTerminalText;
using quorvel::testsupport::TempFolder;

namespace {

std::string Utf8(const char8_t* text)
{
    return reinterpret_cast<const char*>(text);
}

TEST(CTerminalText, ConvertsGbkToUtf8AndMarksBadBytes)
{
    EXPECT_EQ(CTerminalText::ToUtf8("系统启动成功!"), Utf8(u8"系统启动成功!"));
    EXPECT_EQ(CTerminalText::ToUtf8(std::string("a\xFF" "b")), "a?b");
    EXPECT_EQ(CTerminalText::ToUtf8(std::string("ab\xC8")), "ab?");
    EXPECT_EQ(CTerminalText::ToUtf8(""), "");
    std::string appended = "x";
    CTerminalText::AppendUtf8(appended, "系统");
    EXPECT_EQ(appended, Utf8(u8"x系统"));
}

TEST(CTerminalText, MixedTextConvertsAsAWholeAlsoWhenItsChineseRepeats)
{
    // ASCII passes as it is; a two-byte character whose second byte is in
    // the ASCII range ("丂" is 81 40) and a four-byte one (U+0080 is
    // 81 30 81 30) stay whole; a repeated stretch converts the same again.
    const std::string line = "INFOR 消息:trans-file source:a@hub \x81\x40@ \x81\x30\x81\x30.";
    const std::string expected = Utf8(u8"INFOR 消息:trans-file source:a@hub 丂@ \u0080.");
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(CTerminalText::ToUtf8(line), expected);
    EXPECT_EQ(CTerminalText::ToUtf8(std::string("消\xFF息")), Utf8(u8"消?息"));
    std::string longGbk;
    std::string longUtf8;
    for (int i = 0; i < 75; ++i) {
        longGbk += "消息";
        longUtf8 += Utf8(u8"消息");
    }
    EXPECT_EQ(CTerminalText::ToUtf8(std::string(200, 'x') + longGbk), std::string(200, 'x') + longUtf8);
}

TEST(CTerminalText, WriteLineEndsEachLineWithOneLineFeed)
{
    TempFolder dir;
    const auto path = dir / "out.txt";
    std::FILE* out = std::fopen(path.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    CTerminalText::WriteLine(out, "[2017-03-05 09:07:03] 日志\r\n");
    CTerminalText::WriteLine(out, "plain");
    std::fclose(out);
    EXPECT_EQ(TempFolder::Read(path), Utf8(u8"[2017-03-05 09:07:03] 日志\nplain\n"));
}

} // namespace
