#include "quorvel_shell/CServerApp.h"
#include "quorvel_test_support/TempFolder.h"
#include "scrivlet/CLog4c.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

using corvane::CConnectionLimits;
using quorvel::service::CServiceLimits;
using quorvel::shell::CServerApp;
using quorvel::store::CMsgCache;
using quorvel::testsupport::TempFolder;
using scrivlet::CLog4c;

namespace fs = std::filesystem;

namespace {

class CServerAppTest : public ::testing::Test {
protected:
    // Start-up logs a line when it raises the open-file limit: tests start
    // at the hard limit, so only the one that lowers it sees that line.
    void SetUp() override
    {
        rlimit limit{};
        ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }

    // Starts an application in the temporary folder, with a settings file
    // holding `ini` when it is not empty.
    bool StartWith(const std::string& ini)
    {
        if (!ini.empty()) {
            fs::create_directory(dir_ / "config");
            TempFolder::Write(dir_ / "config/server.ini", ini);
        }
        return app_.InitInstance(log_, dir_.Path().string());
    }

    TempFolder dir_;
    CLog4c log_{[] { return CLog4c::LocalTime{2017, 3, 5, 9, 7, 3}; }};
    CServerApp app_;
};

TEST_F(CServerAppTest, StartUpCreatesFoldersAndGivesTheLogItsFolder)
{
    ASSERT_TRUE(StartWith(""));
    for (const char* folder : {"tmp", "data", "log", "config"})
        EXPECT_TRUE(fs::is_directory(dir_ / folder)) << folder;
    EXPECT_EQ(app_.ModuleDir(), dir_.Path().string());
    EXPECT_EQ(app_.DataDir(), (dir_ / "data").string());
    EXPECT_EQ(app_.TempDir(), (dir_ / "tmp").string());
    EXPECT_EQ(app_.SettingsPath(), (dir_ / "config/server.ini").string());

    log_.LogEvent("abc");
    log_.SaveToFile();
    EXPECT_EQ(TempFolder::Read(dir_ / "log/2017-03-05.txt"), "[2017-03-05 09:07:03] abc\r\n");
}

TEST_F(CServerAppTest, MissingSettingsReadClearAndAreCreatedAtExit)
{
    ASSERT_TRUE(StartWith(""));
    EXPECT_FALSE(app_.SendAllFriend());
    EXPECT_FALSE(fs::exists(dir_ / "config/server.ini"));
    EXPECT_EQ(app_.ExitInstance(), 0);
    EXPECT_EQ(TempFolder::Read(dir_ / "config/server.ini"), "[SERVER]\r\nSendAllFriend=0\r\n");
}

TEST_F(CServerAppTest, SendAllFriendIsSetOnlyByAPositiveNumber)
{
    const std::vector<std::pair<std::string, bool>> cases{
        {" 1 ", true}, {"2", true}, {"+3x", true}, {"0", false},
        {"-1", false}, {"abc", false}, {"", false}, {"0x10", false}};
    for (const auto& [value, expected] : cases) {
        fs::create_directory(dir_ / "config");
        TempFolder::Write(dir_ / "config/server.ini", "[SERVER]\r\nSendAllFriend=" + value + "\r\n");
        CServerApp app;
        ASSERT_TRUE(app.InitInstance(log_, dir_.Path().string()));
        EXPECT_EQ(app.SendAllFriend(), expected) << "value \"" << value << "\"";
    }
    EXPECT_TRUE(CServerApp::IsPositiveNumber("99999999999999999999"));
    EXPECT_FALSE(CServerApp::IsPositiveNumber("-99999999999999999999"));
}

TEST_F(CServerAppTest, StoreLimitsComeFromLimitsAndAnUnusableValueKeepsTheDefault)
{
    const std::string ini = "[LIMITS]\r\nStoreCompactBytes=1000\r\nStoreTargetPendingBytes=-5\r\n"
                            "StoreTargetPendingMessages=7x\r\n";
    ASSERT_TRUE(StartWith(ini));
    const CMsgCache::Limits defaults;
    EXPECT_EQ(app_.StoreLimits().compactBytes, 1000u);
    EXPECT_EQ(app_.StoreLimits().targetPendingBytes, defaults.targetPendingBytes);
    EXPECT_EQ(app_.StoreLimits().targetPendingMessages, defaults.targetPendingMessages);
    EXPECT_EQ(defaults.compactBytes, 64u << 20);
    EXPECT_EQ(defaults.targetPendingBytes, 256u << 20);
    EXPECT_EQ(defaults.targetPendingMessages, 100000u);
    app_.ExitInstance();
    EXPECT_EQ(TempFolder::Read(dir_ / "config/server.ini"), ini + "\r\n[SERVER]\r\nSendAllFriend=0\r\n")
        << "limits are never written back";
}

TEST_F(CServerAppTest, ConnectionLimitsComeFromLimits)
{
    ASSERT_TRUE(StartWith("[LIMITS]\r\nBufferBudgetBytes=1048576\r\nMaxConnectionsPerUser=3\r\n"
                          "MaxConnectionsPerAddress=0\r\nLoginTimeoutSeconds=20\r\nFramesPerTurn=many\r\n"));
    const CServiceLimits& limits = app_.Limits();
    EXPECT_EQ(limits.connections.bufferBudgetBytes, 1048576u);
    EXPECT_EQ(limits.maxConnectionsPerUser, 3u);
    EXPECT_EQ(limits.connections.maxConnectionsPerAddress, 256u) << "0 is no usable value";
    EXPECT_EQ(limits.connections.loginTimeout, std::chrono::seconds(20));
    EXPECT_EQ(limits.connections.framesPerTurn, 32u);
    EXPECT_EQ(CConnectionLimits::kDefaultBufferBudgetBytes, 256u << 20);
    EXPECT_EQ(CServiceLimits::kDefaultMaxConnectionsPerUser, 16u);
    EXPECT_EQ(CConnectionLimits::kDefaultLoginTimeout, std::chrono::seconds(300));
}

TEST_F(CServerAppTest, ServiceBoundsComeFromLimits)
{
    ASSERT_TRUE(StartWith("[LIMITS]\r\nMaxNeighbors=3\r\nMaxAnnouncedUsers=0\r\n"
                          "CostlyRequestsPerConnection=7\r\nCostlyRequestsPerAddress=70\r\n"));
    EXPECT_EQ(app_.Limits().maxNeighbors, 3u);
    EXPECT_EQ(app_.Limits().maxAnnouncedUsers, CServiceLimits::kDefaultMaxAnnouncedUsers) << "0 is unusable";
    EXPECT_EQ(app_.Limits().costlyRequestsPerConnection, 7u);
    EXPECT_EQ(app_.Limits().costlyRequestsPerAddress, 70u);
}

TEST_F(CServerAppTest, StartUpRaisesTheOpenFileLimitToTheHardOne)
{
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    if (limit.rlim_max <= 256)
        GTEST_SKIP() << "hard open-file limit " << limit.rlim_max;
    const rlim_t hard = limit.rlim_max;
    limit.rlim_cur = 256;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &limit), 0);

    ASSERT_TRUE(StartWith(""));
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    EXPECT_EQ(limit.rlim_cur, hard);
    log_.SaveToFile();
    const std::string line = "[2017-03-05 09:07:03] INFOR 进程可打开的文件数上限已从 256 提高到 " +
                             std::to_string(hard) + "\r\n";
    EXPECT_EQ(TempFolder::Read(dir_ / "log/2017-03-05.txt"), line);

    // Already at the hard limit: nothing to raise, nothing logged.
    CServerApp again;
    ASSERT_TRUE(again.InitInstance(log_, dir_.Path().string()));
    log_.SaveToFile();
    EXPECT_EQ(TempFolder::Read(dir_ / "log/2017-03-05.txt"), line);
}

TEST_F(CServerAppTest, WriteSettingsWritesOneOrZeroAndKeepsTheRest)
{
    ASSERT_TRUE(StartWith("[server]\r\nsendallfriend=2\r\nColour=蓝\r\n"));
    EXPECT_TRUE(app_.SendAllFriend());
    EXPECT_EQ(app_.ReadSetting("SERVER", "Colour", "none"), "蓝");
    EXPECT_EQ(app_.ReadSetting("SERVER", "Missing", "none"), "none");
    app_.WriteSettings();
    EXPECT_EQ(TempFolder::Read(dir_ / "config/server.ini"), "[server]\r\nsendallfriend=1\r\nColour=蓝\r\n");
    app_.SetSendAllFriend(false);
    app_.WriteSettings();
    EXPECT_EQ(TempFolder::Read(dir_ / "config/server.ini"), "[server]\r\nsendallfriend=0\r\nColour=蓝\r\n");
}

TEST(CServerAppFolder, ProgramFolderIsTheFolderOfTheRunningProgram)
{
    const std::string folder = CServerApp::ProgramFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_NE(folder.back(), '/');
    EXPECT_TRUE(fs::exists(fs::path(folder) / "server_tests"));
}

} // namespace
