#include "quorvel_shell/CIniFile.h"
#include "quorvel_test_support/TempFolder.h"

#include <gtest/gtest.h>

using quorvel::shell::CIniFile;
using quorvel::testsupport::TempFolder;

namespace {

class CIniFileTest : public ::testing::Test {
protected:
    TempFolder dir_;
    std::string path_ = (dir_ / "settings.ini").string();
    CIniFile ini_{path_};
};

TEST_F(CIniFileTest, ReadsWithProfileSemantics)
{
    TempFolder::Write(path_,
                      "orphan=before any section\r\n"
                      "; a comment\r\n"
                      "[ Server ]\r\n"
                      "  SendAllFriend =  1  \r\n"
                      "Name=日志=x\r\n"
                      "bare\r\n"
                      "sendallfriend=second wins not\r\n"
                      "[server]\r\n"
                      "Other=in a later section of the same name\r\n"
                      "[OTHER]\n"
                      "Key=lf line\n");
    EXPECT_EQ(ini_.GetString("SERVER", "SENDALLFRIEND", "d"), "1");
    EXPECT_EQ(ini_.GetString("server", "name", "d"), "日志=x");
    EXPECT_EQ(ini_.GetString("SERVER", "bare", "d"), "");
    EXPECT_EQ(ini_.GetString("SERVER", "Other", "d"), "d");
    EXPECT_EQ(ini_.GetString("SERVER", "orphan", "d"), "d");
    EXPECT_EQ(ini_.GetString("other", "key", "d"), "lf line");
    EXPECT_EQ(ini_.GetString("missing", "key", "d"), "d");
    EXPECT_EQ(CIniFile((dir_ / "absent.ini").string()).GetString("SERVER", "Key", "0"), "0");
}

TEST_F(CIniFileTest, LongValuesKeep259BytesAndWholeCharacters)
{
    TempFolder::Write(path_, "[S]\r\nA=" + std::string(300, 'a') + "\r\nB=" + std::string(258, 'b') +
                                 "日志\r\n");
    EXPECT_EQ(ini_.GetString("S", "A", ""), std::string(259, 'a'));
    EXPECT_EQ(ini_.GetString("S", "B", ""), std::string(258, 'b'));
}

TEST_F(CIniFileTest, WritingOneKeyKeepsEveryOtherLine)
{
    const std::string before = "; 注释 kept\r\n"
                               "[Other]\r\n"
                               "SendAllFriend=7\r\n"
                               "\r\n"
                               "[server]\r\n"
                               "  sendallfriend = 2 \r\n"
                               "Name=日志\r\n"
                               "\r\n"
                               "[Tail]\r\n"
                               "X=1\r\n";
    TempFolder::Write(path_, before);
    ASSERT_TRUE(ini_.SetString("SERVER", "SendAllFriend", "1"));
    std::string expected = before;
    expected.replace(expected.find("  sendallfriend = 2 "), 20, "sendallfriend=1");
    EXPECT_EQ(TempFolder::Read(path_), expected);

    ASSERT_TRUE(ini_.SetString("server", "New", "v"));
    expected.insert(expected.find("\r\n\r\n[Tail]") + 2, "New=v\r\n");
    EXPECT_EQ(TempFolder::Read(path_), expected);
}

TEST_F(CIniFileTest, WritingCreatesFileOrSectionAndFollowsLineEnds)
{
    ASSERT_TRUE(ini_.SetString("SERVER", "SendAllFriend", "0"));
    EXPECT_EQ(TempFolder::Read(path_), "[SERVER]\r\nSendAllFriend=0\r\n");

    TempFolder::Write(path_, "[A]\nK=1");
    ASSERT_TRUE(ini_.SetString("B", "K", "2"));
    EXPECT_EQ(TempFolder::Read(path_), "[A]\nK=1\n\n[B]\nK=2\n");
    EXPECT_EQ(ini_.GetString("b", "k", ""), "2");
}

TEST_F(CIniFileTest, FailedWriteLeavesNoFile)
{
    CIniFile nowhere((dir_ / "absent" / "x.ini").string());
    EXPECT_FALSE(nowhere.SetString("S", "K", "V"));
    EXPECT_TRUE(std::filesystem::is_empty(dir_.Path()));
}

} // namespace
