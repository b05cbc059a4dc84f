#include "quorvel_shell/CLogPageDlg.h"

#include <gtest/gtest.h>

#include <string>

using quorvel::shell::CLogPageDlg;

namespace {

TEST(CLogPageDlg, ReplacesTheViewWithTheTextAfterItPasses8192Characters)
{
    CLogPageDlg page;
    const std::string line(100, 'x');
    for (int i = 0; i < 81; ++i)
        ASSERT_EQ(page.AppendLog(line), CLogPageDlg::Placement::AtEnd);
    EXPECT_EQ(page.TextLength(), 8100u);
    // 8192 exactly is not past the limit.
    EXPECT_EQ(page.AppendLog(std::string(92, 'y')), CLogPageDlg::Placement::AtEnd);
    EXPECT_EQ(page.TextLength(), 8192u);
    // This text brings the view past it and is still appended...
    EXPECT_EQ(page.AppendLog("z"), CLogPageDlg::Placement::AtEnd);
    EXPECT_EQ(page.TextLength(), 8193u);
    // ...and the next one replaces everything.
    EXPECT_EQ(page.AppendLog(line), CLogPageDlg::Placement::ReplaceAll);
    EXPECT_EQ(page.TextLength(), 100u);
    EXPECT_EQ(page.AppendLog(line), CLogPageDlg::Placement::AtEnd);
}

TEST(CLogPageDlg, CountsCharactersNotBytes)
{
    EXPECT_EQ(CLogPageDlg::CountChars("abc"), 3u);
    EXPECT_EQ(CLogPageDlg::CountChars("系统启动成功!\r\n"), 9u);
    EXPECT_EQ(CLogPageDlg::CountChars("\x81\x30\x81\x30" "a"), 2u);   // a four-byte character
    EXPECT_EQ(CLogPageDlg::CountChars("a\xB5"), 2u);                  // a cut character counts as one

    CLogPageDlg page;
    const std::string chinese = "系统启动成功";   // 6 characters, 12 bytes
    for (int i = 0; i < 1366; ++i)
        page.AppendLog(chinese);
    EXPECT_EQ(page.TextLength(), 8196u);
    EXPECT_EQ(page.AppendLog(chinese), CLogPageDlg::Placement::ReplaceAll);
}

} // namespace
