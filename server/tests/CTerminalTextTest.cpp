#include "CTerminalText.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <cstdio>

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
