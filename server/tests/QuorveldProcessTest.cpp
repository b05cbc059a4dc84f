#include "quorvel_test_support/QuorveldProcess.h"
#include "quorvel_test_support/TempFolder.h"

#include <gtest/gtest.h>

using quorvel::testsupport::QuorveldProcess;
using quorvel::testsupport::TempFolder;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::string Utf8(const char8_t* text)
{
    return reinterpret_cast<const char*>(text);
}

// Starts a copy of quorveld in `dir`, waits for its start-up line, ends it
// with `signal` and returns its wait status.
int RunUntilSignal(const TempFolder& dir, int signal, std::string& dayBefore)
{
    QuorveldProcess quorveld(dir.Path());
    dayBefore = QuorveldProcess::TodaysLogName();
    EXPECT_TRUE(quorveld.Start());
    EXPECT_TRUE(quorveld.WaitForOutput(Utf8(u8"INFOR 系统启动成功!\n"), 30s)) << quorveld.Output();
    EXPECT_TRUE(quorveld.Signal(signal));
    return quorveld.WaitForExit(30s);
}

// The day's log file, whichever day it was written on.
std::string ReadLog(const TempFolder& dir, const std::string& dayBefore)
{
    std::string log = TempFolder::Read(dir / ("log/" + dayBefore));
    return log.empty() ? TempFolder::Read(dir / ("log/" + QuorveldProcess::TodaysLogName())) : log;
}

TEST(QuorveldProcess, StartsAndEndsOnSigtermWritingSettingsAndLog)
{
    TempFolder dir;
    std::string day;
    int status = RunUntilSignal(dir, SIGTERM, day);
    ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    for (const char* folder : {"tmp", "data", "log", "config"})
        EXPECT_TRUE(fs::is_directory(dir / folder)) << folder;
    EXPECT_EQ(TempFolder::Read(dir / "config/server.ini"), "[SERVER]\r\nSendAllFriend=0\r\n");
    EXPECT_NE(ReadLog(dir, day).find("] INFOR 系统启动成功!\r\n"), std::string::npos);
}

TEST(QuorveldProcess, SigintKeepsTheSettingsFileAndNormalisesTheFlag)
{
    TempFolder dir;
    fs::create_directory(dir / "config");
    TempFolder::Write(dir / "config/server.ini", "[Server]\r\nSendAllFriend = 2\r\nNote=保留\r\n");
    std::string day;
    int status = RunUntilSignal(dir, SIGINT, day);
    ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(TempFolder::Read(dir / "config/server.ini"), "[Server]\r\nSendAllFriend=1\r\nNote=保留\r\n");
}

TEST(QuorveldProcess, HelpAndVersionPrintAndOtherArgumentsAreRefused)
{
    TempFolder dir;
    for (const char* argument : {"--help", "--version", "--port"}) {
        QuorveldProcess quorveld(dir.Path());
        ASSERT_TRUE(quorveld.Start(argument));
        const bool refused = std::string(argument) == "--port";
        const std::string expected = std::string(argument) == "--version" ? "quorveld (Quorvel) " : "usage: quorveld";
        // A refusal prints the usage on the error stream only.
        EXPECT_EQ(quorveld.WaitForOutput(expected, 30s), !refused) << quorveld.Output();
        const int status = quorveld.WaitForExit(30s);
        ASSERT_TRUE(WIFEXITED(status)) << argument << " status " << status;
        EXPECT_EQ(WEXITSTATUS(status), refused ? 2 : 0) << argument;
    }
    // None of them ran the server: it made none of its folders.
    for (const char* folder : {"tmp", "data", "log", "config"})
        EXPECT_FALSE(fs::exists(dir / folder)) << folder;
}

} // namespace
