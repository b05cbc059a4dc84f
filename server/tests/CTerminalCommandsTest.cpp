#include "CTerminalCommands.h"
#include "ConsoleTestSupport.h"

#include <gtest/gtest.h>

using quorvel::terminal::CTerminalCommands;
using quorvel::testsupport::FreePort;
using quorvel::testsupport::TempFolder;

namespace {

class TerminalCommands : public ConsoleTest {
protected:
    std::string Run(const std::string& line)
    {
        std::string answer;
        OnLoop([&] { answer = CTerminalCommands(*console_).Run(line); });
        return answer;
    }
};

TEST_F(TerminalCommands, StartStopAndExitDriveTheConsole)
{
    WriteDirectory("hub", std::to_string(FreePort()));
    EXPECT_EQ(Run("  start "), "");
    EXPECT_TRUE(Running());
    EXPECT_EQ(Run("stop"), "");
    EXPECT_FALSE(Running());
    EXPECT_EQ(Run(" status"), "");
    ASSERT_EQ(view_.statuses.size(), 1u);
    EXPECT_EQ(view_.statuses[0].rfind("status: not listening: the service is stopped\n", 0), 0u);
    EXPECT_EQ(Run(""), "");
    EXPECT_EQ(Run("exit"), "");
    EXPECT_EQ(view_.ends, 1);
}

TEST_F(TerminalCommands, OptionsShowAndSetTheFlag)
{
    EXPECT_EQ(Run("options"), "");
    EXPECT_EQ(Run("options   on"), "");
    EXPECT_TRUE(app_.SendAllFriend());
    EXPECT_EQ(TempFolder::Read(dir_ / "config/server.ini"), "[SERVER]\r\nSendAllFriend=1\r\n");
    EXPECT_EQ(Run("options off"), "");
    EXPECT_FALSE(app_.SendAllFriend());
    EXPECT_EQ(view_.options, (std::vector<bool>{false, true, false}));
}

TEST_F(TerminalCommands, UnknownCommandsGetTheListOfKnownOnes)
{
    for (const char* line : {"help", "START", "start now", "options maybe", "exit 1", "status now"})
        EXPECT_EQ(Run(line), CTerminalCommands::kUsage) << line;
    EXPECT_FALSE(Running());
    EXPECT_EQ(view_.ends, 0);
}

} // namespace
