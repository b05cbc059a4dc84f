#include "quorvel_directory/CDirectoryWriter.h"
#include "quorvel_directory/CServerXml.h"
#include "CacheTestSupport.h"
#include "quorvel_test_support/TempFolder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

using marlune::BX_DATA;
using marlune::CTalker;
using marlune::CTalkerServer;
using quorvel::directory::CDirectoryWriter;
using quorvel::directory::CServerXml;
using quorvel::testsupport::TempFolder;

namespace {

using ServerList = CServerXml::ServerList;

// While it lives, files of this process cannot grow past `limit` bytes and a
// write beyond it fails with EFBIG instead of raising SIGXFSZ: a disk that
// fills up in the middle of a save, even for root.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t limit)
    {
        getrlimit(RLIMIT_FSIZE, &old_);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = old_;
        lowered.rlim_cur = limit;
        ok_ = setrlimit(RLIMIT_FSIZE, &lowered) == 0;
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool ok() const { return ok_; }

private:
    rlimit old_{};
    void (*oldHandler_)(int) = nullptr;
    bool ok_ = false;
};

CTalker MakeUser(const std::string& userId)
{
    CTalker talker;
    talker.userId = userId;
    return talker;
}

unsigned ModeOf(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return 0;
    return st.st_mode & 07777;
}

class CServerXmlSaveTest : public ::testing::Test {
protected:
    CServerXmlSaveTest()
    {
        local_.name = "hub";
        local_.port = "8801";
        for (int i = 0; i < 300; ++i) {
            CTalker talker;
            talker.userId = "user" + std::to_string(i);
            talker.name = "用户" + std::to_string(i);
            talker.password = "secret";
            local_.AddTalker(talker);
        }
    }
    int Save(const std::string& path)
    {
        return CServerXml(folder_.Log()).SaveConfig(path, local_, neighbors_, routeServers_);
    }

    CacheTestFolder folder_;
    std::string path_ = folder_.File("server.xml");
    CTalkerServer local_;
    ServerList neighbors_;
    ServerList routeServers_;
};

TEST_F(CServerXmlSaveTest, WriteFailingMidwayLeavesTheOldFileWhole)
{
    const std::string old = "<r><server name=\"old\"/></r>\n";
    TempFolder::Write(path_, old);
    {
        FileSizeLimit limit(4096);
        ASSERT_TRUE(limit.ok());
        EXPECT_EQ(Save(path_), 0);
    }
    EXPECT_EQ(TempFolder::Read(path_), old);
    EXPECT_FALSE(std::filesystem::exists(path_ + ".new"));
    EXPECT_EQ(CacheTestFolder::LinesWith("write " + path_ + ".new: File too large").size(), 1u);

    ASSERT_EQ(Save(path_), 1);
    EXPECT_GT(TempFolder::Read(path_).size(), 4096u);
}

TEST_F(CServerXmlSaveTest, UnwritableFolderLeavesTheOldFileWhole)
{
    const std::string old = "<r/>";
    const std::string folder = folder_.File("config");
    const std::string path = folder + "/server.xml";
    std::filesystem::create_directory(folder);
    TempFolder::Write(path, old);
    std::filesystem::permissions(folder, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    if (::access(folder.c_str(), W_OK) == 0)
        GTEST_SKIP() << "permissions do not bind this user";
    EXPECT_EQ(Save(path), 0);
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
    EXPECT_EQ(TempFolder::Read(path), old);
    EXPECT_EQ(CacheTestFolder::LinesWith("create " + path + ".new").size(), 1u);
}

TEST_F(CServerXmlSaveTest, FileIsReadableByItsOwnerOnly)
{
    const mode_t oldMask = ::umask(0);
    EXPECT_EQ(Save(path_), 1);
    EXPECT_EQ(ModeOf(path_), 0600u);

    // An older file open to all, and a temporary file a crash left behind.
    ::chmod(path_.c_str(), 0666);
    TempFolder::Write(path_ + ".new", "left over");
    ::chmod((path_ + ".new").c_str(), 0666);
    EXPECT_EQ(Save(path_), 1);
    ::umask(oldMask);
    EXPECT_EQ(ModeOf(path_), 0600u);
    EXPECT_FALSE(std::filesystem::exists(path_ + ".new"));
    EXPECT_EQ(TempFolder::Read(path_).find("left over"), std::string::npos);
}

// A save killed at any moment leaves the old file or the new one, whole:
// a child process saves two directories in turn until it is killed.
TEST_F(CServerXmlSaveTest, KilledMidSaveLeavesTheOldOrTheNewFile)
{
    CTalkerServer other = local_;
    CTalker extra;
    extra.userId = "extra";
    other.AddTalker(extra);
    std::string built[2];
    for (int i = 0; i < 2; ++i) {
        BX_DATA out;
        CServerXml(folder_.Log()).BuildConfig(&out, i == 0 ? local_ : other, neighbors_, routeServers_);
        built[i] = out.buff;
    }
    ASSERT_NE(built[0], built[1]);
    ASSERT_EQ(Save(path_), 1);
    for (int round = 0; round < 12; ++round) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int i = 0;; ++i)
                CServerXml(folder_.Log()).SaveConfig(path_, i % 2 == 0 ? other : local_, neighbors_,
                                                     routeServers_);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2 + 7 * round));
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        const std::string now = TempFolder::Read(path_);
        EXPECT_TRUE(now == built[0] || now == built[1]) << "round " << round << ", " << now.size() << " bytes";
    }
    // The next save clears whatever temporary file the kill left.
    ASSERT_EQ(Save(path_), 1);
    EXPECT_EQ(TempFolder::Read(path_), built[0]);
    EXPECT_FALSE(std::filesystem::exists(path_ + ".new"));
}

// Every sample directory file in examples/ loads, with at least one user.
TEST_F(CServerXmlSaveTest, WriterSavesTheCopyTakenAndTheNewestOfThoseWaiting)
{
    auto neighbor = std::make_unique<CTalkerServer>();
    neighbor->name = "far";
    neighbor->AddTalker(MakeUser("nina"));
    neighbors_.push_back(std::move(neighbor));
    {
        CDirectoryWriter writer(folder_.Log(), path_);
        writer.Submit(CDirectoryWriter::TakeSnapshot(local_, neighbors_, routeServers_));
        // The records change after the copy was taken: the file shows the copy.
        local_.AddTalker(MakeUser("late"));
        neighbors_.front()->ReleaseAll();
        writer.Flush();
        const std::string first = TempFolder::Read(path_);
        EXPECT_NE(first.find("userid=\"user299\""), std::string::npos);
        EXPECT_NE(first.find("userid=\"nina\""), std::string::npos);
        EXPECT_EQ(first.find("userid=\"late\""), std::string::npos);
        // Copies handed over quickly are all written or replaced by a newer
        // one: after the flush the file holds the last.
        for (int i = 0; i < 20; ++i) {
            local_.AddTalker(MakeUser("burst" + std::to_string(i)));
            writer.Submit(CDirectoryWriter::TakeSnapshot(local_, neighbors_, routeServers_));
        }
        writer.Flush();
        EXPECT_NE(TempFolder::Read(path_).find("userid=\"burst19\""), std::string::npos);
        EXPECT_LE(writer.Writes(), 21u);
        // A copy still waiting when the writer ends is written.
        local_.AddTalker(MakeUser("last"));
        writer.Submit(CDirectoryWriter::TakeSnapshot(local_, neighbors_, routeServers_));
    }
    CTalkerServer loaded;
    ServerList neighbors;
    ServerList routes;
    ASSERT_EQ(CServerXml(folder_.Log()).LoadConfig(path_, loaded, neighbors, routes), 1);
    EXPECT_TRUE(loaded.GetTalkerByUserID("last"));
    ASSERT_EQ(neighbors.size(), 1u);
    EXPECT_TRUE(neighbors.front()->Talkers().empty());
}

TEST(ExampleDirectoryFiles, EveryOneLoads)
{
    CacheTestFolder folder;
    const std::filesystem::path examples = std::filesystem::path(QUORVEL_SOURCE_DIR) / "examples";
    int files = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(examples)) {
        if (entry.path().extension() != ".xml")
            continue;
        SCOPED_TRACE(entry.path().string());
        ++files;
        CTalkerServer local;
        ServerList neighbors;
        ServerList routeServers;
        EXPECT_EQ(CServerXml(folder.Log()).LoadConfig(entry.path().string(), local, neighbors, routeServers), 1);
        EXPECT_FALSE(local.name.empty());
        EXPECT_FALSE(local.Talkers().empty());
    }
    EXPECT_GE(files, 3);
}

// The federation samples name each other as route servers, on the ports
// they listen on.
TEST(ExampleDirectoryFiles, FederatedServersRouteToEachOther)
{
    CacheTestFolder folder;
    const std::filesystem::path federation = std::filesystem::path(QUORVEL_SOURCE_DIR) / "examples/federation";
    CTalkerServer a;
    CTalkerServer b;
    ServerList aRoutes;
    ServerList bRoutes;
    ServerList neighbors;
    ASSERT_EQ(CServerXml(folder.Log()).LoadConfig((federation / "a.xml").string(), a, neighbors, aRoutes), 1);
    ASSERT_EQ(CServerXml(folder.Log()).LoadConfig((federation / "b.xml").string(), b, neighbors, bRoutes), 1);
    ASSERT_EQ(aRoutes.size(), 1u);
    ASSERT_EQ(bRoutes.size(), 1u);
    EXPECT_NE(a.name, b.name);
    EXPECT_NE(a.port, b.port);
    EXPECT_EQ(aRoutes[0]->name, b.name);
    EXPECT_EQ(aRoutes[0]->port, b.port);
    EXPECT_EQ(bRoutes[0]->name, a.name);
    EXPECT_EQ(bRoutes[0]->port, a.port);
}

} // namespace
