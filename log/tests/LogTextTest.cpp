#include "scrivlet/LogText.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <string>

using scrivlet::ErrorText;
using scrivlet::FormatText;
using scrivlet::LogLevelName;
using scrivlet::kMaxErrorText;

namespace {

std::string Format(std::size_t size, const char* format, ...) __attribute__((format(printf, 2, 3)));

std::string Format(std::size_t size, const char* format, ...)
{
    std::string buffer(size, 'x');
    va_list args;
    va_start(args, format);
    const std::size_t length = FormatText(buffer.data(), size, format, args);
    va_end(args);
    EXPECT_EQ(buffer[length], '\0') << "always terminated";
    return buffer.substr(0, length);
}

} // namespace

TEST(LogText, ErrorTextKeeps259BytesAndWholeCharacters)
{
    EXPECT_EQ(ErrorText("disk full"), "disk full");
    EXPECT_EQ(ErrorText(std::string(300, 'e')), std::string(kMaxErrorText, 'e'));
    // A two-byte character at bytes 258-259 would be cut in two: it goes whole.
    const std::string straddling = std::string(258, 'e') + "\xC8\xD5" + "tail";
    EXPECT_EQ(ErrorText(straddling), std::string(258, 'e'));
    const std::string fitting = std::string(257, 'e') + "\xC8\xD5" + "tail";
    EXPECT_EQ(ErrorText(fitting), std::string(257, 'e') + "\xC8\xD5");
}

TEST(LogText, FormatTextCutsLongMessagesAtACharacterBoundary)
{
    EXPECT_EQ(Format(64, "port %d: %s", 8801, "refused"), "port 8801: refused");
    EXPECT_EQ(Format(8, "%s", "abcdefghij"), "abcdefg");
    // Seven bytes fit; the character at bytes 6-7 would be cut, so it goes.
    EXPECT_EQ(Format(8, "%s", "abcdef\xC8\xD5z"), "abcdef");
    EXPECT_EQ(Format(8, "%s", ""), "");
}

TEST(LogText, LevelNames)
{
    EXPECT_STREQ(LogLevelName(0), "INFOR");
    EXPECT_STREQ(LogLevelName(1), "DEBUG");
    EXPECT_STREQ(LogLevelName(2), "ERROR");
    EXPECT_STREQ(LogLevelName(-1), "ERROR");
}
