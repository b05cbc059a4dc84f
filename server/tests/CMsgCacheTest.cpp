#include "quorvel_store/CMsgCache.h"
#include "CacheTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using quorvel::store::CMsgCache;

namespace {

constexpr std::size_t kHead = 8;
constexpr std::size_t kRecord = 132;

class MsgCacheTest : public ::testing::Test {
protected:
    int Add(CMsgCache& cache, const std::string& body, const std::string& targetUser,
            const std::string& targetServer, const std::string& sourceUser = "alice",
            const std::string& sourceServer = "home")
    {
        return cache.AddMsg(body.data(), body.size(), sourceUser, sourceServer, targetUser, targetServer);
    }

    // The next message for a user, as its text, or "" when none.
    std::string NextFor(CMsgCache& cache, const std::string& user, const std::string& server,
                        std::uint32_t* record = nullptr)
    {
        std::string bytes;
        std::uint32_t n = 0;
        if (!cache.GetUserMsg(bytes, n, user, server))
            return "";
        if (record)
            *record = n;
        return bytes;
    }

    std::string NextRoute(CMsgCache& cache, const std::string& local, std::uint32_t* record = nullptr)
    {
        std::string bytes;
        std::uint32_t n = 0;
        if (!cache.GetRouteMsg(bytes, n, local))
            return "";
        if (record)
            *record = n;
        return bytes;
    }

    CacheTestFolder folder;
};

TEST_F(MsgCacheTest, NewCacheGetsZeroHeadAndEmptyDataFile)
{
    CMsgCache cache(folder.Log());
    EXPECT_EQ(cache.OpenCache(folder.Path()), 1);
    EXPECT_TRUE(cache.IsOpened());
    EXPECT_EQ(ReadBytes(folder.File("msg_index.dat")), std::vector<std::uint8_t>(kHead, 0));
    EXPECT_TRUE(std::filesystem::exists(folder.File("msg_data.dat")));
    EXPECT_EQ(std::filesystem::file_size(folder.File("msg_data.dat")), 0u);
    EXPECT_EQ(CacheTestFolder::LinesWith("INFOR 正在准备打开消息索引文件!").size(), 1u);
    // The files hold messages in clear text: only their owner may read them.
    for (const char* name : {"msg_index.dat", "msg_data.dat"}) {
        const auto perms = std::filesystem::status(folder.File(name)).permissions();
        EXPECT_EQ(perms, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write) << name;
    }

    // A second opening only logs.
    EXPECT_EQ(cache.OpenCache(folder.Path()), 1);
    EXPECT_EQ(CacheTestFolder::LinesWith("正在准备打开消息索引文件!").size(), 2u);
}

TEST_F(MsgCacheTest, FilesHoldTheExactLayout)
{
    CMsgCache cache(folder.Log());
    cache.OpenCache(folder.Path());
    ASSERT_EQ(Add(cache, "<m>one</m>", "bob", "far", "alice", "home"), 1);
    ASSERT_EQ(Add(cache, "<m>second</m>", "carol", "", "dave", ""), 1);
    EXPECT_EQ(CacheTestFolder::LinesWith("INFOR 缓存消息写入长度:10 target:bob@far\r\n").size(), 1u);
    EXPECT_EQ(CacheTestFolder::LinesWith("INFOR 缓存消息写入长度:13 target:carol@\r\n").size(), 1u);

    const auto index = ReadBytes(folder.File("msg_index.dat"));
    ASSERT_EQ(index.size(), kHead + 2 * kRecord);
    EXPECT_EQ(U32At(index, 0), 2u);
    EXPECT_EQ(U32At(index, 4), 0u);

    std::vector<std::uint8_t> expected(kRecord, 0);
    auto put = [&](std::size_t at, const std::string& text) { std::copy(text.begin(), text.end(), expected.begin() + at); };
    put(0, "alice");
    put(40, "home");
    put(60, "bob");
    put(100, "far");
    expected[128] = 10;
    EXPECT_EQ(std::vector<std::uint8_t>(index.begin() + kHead, index.begin() + kHead + kRecord), expected);

    const std::size_t second = kHead + kRecord;
    EXPECT_EQ(TextAt(index, second + 0), "dave");
    EXPECT_EQ(TextAt(index, second + 40), "");
    EXPECT_EQ(TextAt(index, second + 60), "carol");
    EXPECT_EQ(TextAt(index, second + 100), "");
    EXPECT_EQ(U32At(index, second + 124), 10u);
    EXPECT_EQ(U32At(index, second + 128), 13u);

    const auto data = ReadBytes(folder.File("msg_data.dat"));
    EXPECT_EQ(std::string(data.begin(), data.end()), "<m>one</m><m>second</m>");

    std::uint32_t n = 9;
    NextFor(cache, "carol", "", &n);
    ASSERT_EQ(cache.SetMsgSent(n), 1);
    EXPECT_EQ(ReadBytes(folder.File("msg_index.dat"))[second + 120], 1);
}

TEST_F(MsgCacheTest, UserMessagesLeaveInArrivalOrderOnePerSentMark)
{
    CMsgCache cache(folder.Log());
    cache.OpenCache(folder.Path());
    Add(cache, "m1", "bob", "home");
    Add(cache, "x", "carol", "home");
    Add(cache, "m2", "bob", "home");
    Add(cache, "m3", "bob", "home");

    std::uint32_t n = 0;
    EXPECT_EQ(NextFor(cache, "bob", "home", &n), "m1");
    EXPECT_EQ(cache.ReleaseMsg(n), 1);
    EXPECT_EQ(NextFor(cache, "bob", "home", &n), "m1") << "released, so offered again";
    cache.SetMsgSent(n);
    EXPECT_EQ(NextFor(cache, "bob", "home", &n), "m2");
    EXPECT_EQ(n, 2u);
    cache.SetMsgSent(n);
    EXPECT_EQ(NextFor(cache, "bob", "home", &n), "m3");
    cache.SetMsgSent(n);
    EXPECT_EQ(NextFor(cache, "bob", "home"), "");
    EXPECT_EQ(NextFor(cache, "carol", "home"), "x");
    EXPECT_EQ(cache.SetMsgSent(99), 0) << "no such record";
}

TEST_F(MsgCacheTest, HandedOutRecordsAreNotHandedOutTwiceAndReleaseKeepsTheirOrder)
{
    CMsgCache cache(folder.Log());
    cache.OpenCache(folder.Path());
    Add(cache, "m1", "bob", "home");
    Add(cache, "r1", "eve", "far");
    Add(cache, "m2", "bob", "home");
    Add(cache, "r2", "eve", "", "alice", "home");
    Add(cache, "m3", "bob", "home");

    // A user's second and third messages go out while the first is out.
    std::uint32_t first = 0;
    std::uint32_t second = 0;
    std::uint32_t third = 0;
    EXPECT_EQ(NextFor(cache, "bob", "home", &first), "m1");
    EXPECT_EQ(NextFor(cache, "bob", "home", &second), "m2");
    EXPECT_EQ(NextFor(cache, "bob", "home", &third), "m3");
    EXPECT_EQ(NextFor(cache, "bob", "home"), "") << "each record is handed out once";
    EXPECT_TRUE(cache.HasPendingFor("bob", "home")) << "handed out is still pending";

    // Released out of order, they come back in arrival order.
    EXPECT_EQ(cache.ReleaseMsg(third), 1);
    EXPECT_EQ(cache.ReleaseMsg(first), 1);
    EXPECT_EQ(cache.ReleaseMsg(first), 0) << "no longer handed out";
    EXPECT_EQ(cache.SetMsgSent(second), 1);
    EXPECT_EQ(cache.ReleaseMsg(second), 0) << "sent records stay sent";
    EXPECT_EQ(NextFor(cache, "bob", "home"), "m1");
    EXPECT_EQ(NextFor(cache, "bob", "home"), "m3");
    EXPECT_EQ(NextFor(cache, "bob", "home"), "");

    // Routing follows the same rules, and a rescan hands nothing out twice.
    std::uint32_t route = 0;
    EXPECT_EQ(NextRoute(cache, "home", &route), "r1");
    EXPECT_EQ(cache.CountPending(), 4);
    EXPECT_EQ(NextRoute(cache, "home"), "r2");
    EXPECT_EQ(NextRoute(cache, "home"), "");
    EXPECT_TRUE(cache.HasPendingRoute("home"));
    cache.ReleaseMsg(route);
    EXPECT_EQ(NextRoute(cache, "home"), "r1");
}

// Several of a user's messages handed out at once come in arrival order
// within both bounds, whether they lie back to back in the data file or not,
// and leave the rest, and what is released, for the next call.
TEST_F(MsgCacheTest, AUsersMessagesHandedOutTogetherKeepTheirOrderAndBounds)
{
    CMsgCache cache(folder.Log());
    cache.OpenCache(folder.Path());
    Add(cache, "b1", "bob", "home");
    Add(cache, "c1", "carol", "home");
    for (const char* body : {"b2", "b3", "b4"})
        Add(cache, body, "bob", "home");
    const std::string large = "L" + std::string(70000, 'l') + "L";  // read on its own
    Add(cache, large, "bob", "home");
    Add(cache, "b5", "bob", "home");
    const auto texts = [](const std::vector<CMsgCache::StoredMsg>& stored) {
        std::vector<std::string> out;
        for (const auto& message : stored)
            out.push_back(message.bytes);
        return out;
    };

    std::vector<CMsgCache::StoredMsg> stored;
    ASSERT_EQ(cache.GetUserMsgs(stored, "bob", "home", 3, 1 << 20), 3);
    EXPECT_EQ(texts(stored), (std::vector<std::string>{"b1", "b2", "b3"}));
    EXPECT_EQ(stored[1].record, 2u);
    // The byte bound stops after the message that reaches it.
    EXPECT_EQ(cache.GetUserMsgs(stored, "bob", "home", 10, 1), 1);
    EXPECT_EQ(stored.back().bytes, "b4");
    EXPECT_EQ(NextFor(cache, "carol", "home"), "c1");

    EXPECT_EQ(cache.ReleaseMsg(stored[1].record), 1);
    stored.clear();
    ASSERT_EQ(cache.GetUserMsgs(stored, "bob", "home", 10, 1 << 20), 3);
    EXPECT_EQ(texts(stored), (std::vector<std::string>{"b2", large, "b5"}));
    EXPECT_EQ(NextFor(cache, "bob", "home"), "") << "each handed out once";
    EXPECT_EQ(cache.GetUserMsgs(stored, "bob", "home", 10, 1 << 20), 0);
    EXPECT_EQ(stored.size(), 3u);
}

// A read that fails among several leaves none of them handed out, so none
// is lost behind the failure.
TEST_F(MsgCacheTest, AReadFailingAmongSeveralHandsOutNoneOfThem)
{
    CMsgCache cache(folder.Log());
    cache.OpenCache(folder.Path());
    for (const char* body : {"m1", "m2", "m3", "m4"})
        Add(cache, body, "bob", "home");
    int reads = 0;
    cache.InjectFaults({.beforeRead = [&reads] {
        if (++reads == 3)
            throw std::runtime_error("read failed");
    }});
    std::vector<CMsgCache::StoredMsg> stored;
    EXPECT_EQ(cache.GetUserMsgs(stored, "bob", "home", 10, 1 << 20), 0);
    EXPECT_TRUE(stored.empty());
    EXPECT_EQ(CacheTestFolder::LinesWith("read failed").size(), 1u);
    cache.InjectFaults({});
    ASSERT_EQ(cache.GetUserMsgs(stored, "bob", "home", 10, 1 << 20), 4);
    EXPECT_EQ(stored.front().bytes, "m1");
    EXPECT_EQ(stored.back().bytes, "m4");
}

TEST_F(MsgCacheTest, AFailedSentMarkIsLoggedOnceAndTheRecordIsNotHandedOutAgainInThisRun)
{
    {
        CMsgCache cache(folder.Log());
        cache.OpenCache(folder.Path());
        Add(cache, "m1", "bob", "home");
        Add(cache, "m2", "bob", "home");
        std::uint32_t n = 0;
        ASSERT_EQ(NextFor(cache, "bob", "home", &n), "m1");
        cache.InjectFaults({.indexWrite = FailSentMarks});
        EXPECT_EQ(cache.SetMsgSent(n), 0);
        EXPECT_EQ(cache.SetMsgSent(n), 0);
        EXPECT_EQ(CacheTestFolder::LinesWith("ERROR 标记缓存消息已发送失败,记录:0 本次运行不再发送:").size(), 1u);
        cache.InjectFaults({});
        EXPECT_EQ(cache.ReleaseMsg(n), 0);
        EXPECT_EQ(cache.CountPending(), 1) << "a rescan does not bring it back";
        EXPECT_EQ(NextFor(cache, "bob", "home"), "m2");
        EXPECT_EQ(NextFor(cache, "bob", "home"), "");
    }
    // The mark never reached the file: the next run delivers it again.
    CMsgCache cache(folder.Log());
    cache.OpenCache(folder.Path());
    EXPECT_EQ(NextFor(cache, "bob", "home"), "m1");
}

TEST_F(MsgCacheTest, MatchingIsExactAndRoutingSkipsTheLocalServer)
{
    CMsgCache cache(folder.Log());
    cache.OpenCache(folder.Path());
    Add(cache, "local", "bob", "home");
    Add(cache, "no-server", "bob", "");
    Add(cache, "other", "bob", "far");
    Add(cache, "case", "Bob", "home");

    EXPECT_EQ(NextFor(cache, "BOB", "home"), "");
    EXPECT_EQ(NextFor(cache, "bob", "Home"), "");
    EXPECT_EQ(NextFor(cache, "bo", "home"), "");
    EXPECT_EQ(NextFor(cache, "Bob", "home"), "case");

    std::uint32_t n = 0;
    EXPECT_EQ(NextRoute(cache, "home", &n), "no-server");
    cache.SetMsgSent(n);
    EXPECT_EQ(NextRoute(cache, "home", &n), "other");
    cache.SetMsgSent(n);
    EXPECT_EQ(NextRoute(cache, "home"), "") << "messages for the local server are never routed";
    std::uint32_t local = 0;
    EXPECT_EQ(NextFor(cache, "bob", "home", &local), "local");
    cache.ReleaseMsg(local);
    EXPECT_EQ(NextRoute(cache, "elsewhere"), "local") << "the local name is the caller's";
}

TEST_F(MsgCacheTest, ReopeningKeepsSentRecordsAndRecomputesFirstPending)
{
    {
        CMsgCache cache(folder.Log());
        cache.OpenCache(folder.Path());
        Add(cache, "m0", "bob", "home");
        Add(cache, "m1", "bob", "home");
        Add(cache, "m2", "eve", "far");
        std::uint32_t n = 0;
        NextFor(cache, "bob", "home", &n);
        cache.SetMsgSent(n);
    }
    CMsgCache cache(folder.Log());
    cache.OpenCache(folder.Path());
    EXPECT_EQ(cache.ScannedPending(), 2);
    std::uint32_t n = 0;
    EXPECT_EQ(NextFor(cache, "bob", "home", &n), "m1");
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(NextRoute(cache, "home"), "m2");

    // The first-pending number found at opening goes out with the next append
    // and stays fixed while records are marked sent.
    cache.SetMsgSent(1);
    Add(cache, "m3", "bob", "home");
    const auto index = ReadBytes(folder.File("msg_index.dat"));
    EXPECT_EQ(U32At(index, 0), 4u);
    EXPECT_EQ(U32At(index, 4), 1u);
    EXPECT_EQ(cache.CountPending(), 2);
}

TEST_F(MsgCacheTest, TargetsTooLongAreRefusedAndSourcesAreCut)
{
    CMsgCache cache(folder.Log());
    cache.OpenCache(folder.Path());
    const std::string user39(39, 'u');
    const std::string server19(19, 's');
    EXPECT_EQ(Add(cache, "fits", user39, server19), 1);
    EXPECT_EQ(Add(cache, "long-user", user39 + "u", "home"), 0);
    EXPECT_EQ(Add(cache, "long-server", "bob", server19 + "s"), 0);
    EXPECT_EQ(CacheTestFolder::LinesWith("ERROR 缓存消息目标地址过长,拒绝写入 target:").size(), 2u);
    EXPECT_EQ(ReadBytes(folder.File("msg_index.dat")).size(), kHead + kRecord);
    EXPECT_EQ(ReadBytes(folder.File("msg_data.dat")).size(), 4u);
    EXPECT_EQ(NextFor(cache, user39, server19), "fits");

    // 20 two-byte characters cut to 19 of them, never half of one.
    std::string chinese;
    for (int i = 0; i < 20; ++i)
        chinese += "\xC4\xE3";
    EXPECT_EQ(Add(cache, "cut", "bob", "home", chinese, std::string(30, 'h')), 1);
    const auto index = ReadBytes(folder.File("msg_index.dat"));
    EXPECT_EQ(TextAt(index, kHead + kRecord), chinese.substr(0, 38));
    EXPECT_EQ(TextAt(index, kHead + kRecord + 40), std::string(19, 'h'));
    EXPECT_EQ(NextFor(cache, "bob", "home"), "cut");
}

TEST_F(MsgCacheTest, UnopenableCacheStoresNothingAndOpensLater)
{
    const std::string missing = folder.File("data");
    CMsgCache cache(folder.Log());
    EXPECT_EQ(cache.OpenCache(missing), 1);
    EXPECT_FALSE(cache.IsOpened());
    EXPECT_EQ(CacheTestFolder::LinesWith("ERROR 打开消息缓存文件失败:").size(), 1u);
    EXPECT_EQ(Add(cache, "lost", "bob", "home"), 0);
    EXPECT_EQ(CacheTestFolder::LinesWith("ERROR 缓存消息写入失败:").size(), 1u);
    EXPECT_EQ(NextFor(cache, "bob", "home"), "");
    EXPECT_EQ(NextRoute(cache, "x"), "");
    EXPECT_EQ(cache.SetMsgSent(0), 0);

    std::filesystem::create_directory(missing);
    EXPECT_EQ(cache.OpenCache(missing), 1);
    EXPECT_TRUE(cache.IsOpened());
}

TEST_F(MsgCacheTest, SecondOpenerOfTheSameFilesIsRefused)
{
    CMsgCache first(folder.Log());
    CMsgCache second(folder.Log());
    first.OpenCache(folder.Path());
    second.OpenCache(folder.Path());
    EXPECT_TRUE(first.IsOpened());
    EXPECT_FALSE(second.IsOpened());
    first.CloseCache();
    second.OpenCache(folder.Path());
    EXPECT_TRUE(second.IsOpened());
}

TEST_F(MsgCacheTest, AppendsAndDeliveriesFromTwoThreadsStayConsistent)
{
    CMsgCache cache(folder.Log());
    cache.OpenCache(folder.Path());
    constexpr int kMessages = 2000;
    std::thread writer([&] {
        for (int i = 0; i < kMessages; ++i)
            Add(cache, std::to_string(i), "bob", "home");
    });
    std::vector<std::string> delivered;
    while (delivered.size() < static_cast<std::size_t>(kMessages)) {
        std::string bytes;
        std::uint32_t n = 0;
        if (cache.GetUserMsg(bytes, n, "bob", "home") && cache.SetMsgSent(n))
            delivered.push_back(bytes);
        else
            std::this_thread::yield();
    }
    writer.join();
    for (int i = 0; i < kMessages; ++i)
        ASSERT_EQ(delivered[static_cast<std::size_t>(i)], std::to_string(i));
    EXPECT_EQ(cache.CountPending(), 0);
}

} // namespace

// Sent marks go through a mapping of the index made when the index was
// smaller: marks on records appended since, past the first mapping, must
// reach the file as well, and the records stay sent after reopening.
TEST_F(MsgCacheTest, SentMarksReachTheFileAsTheIndexGrowsPastItsFirstMapping)
{
    using namespace quorvel::store::MsgIndexLayout;
    std::vector<std::uint32_t> marked;
    {
        CMsgCache cache(folder.Log());
        ASSERT_EQ(cache.OpenCache(folder.Path()), 1);
        std::uint32_t record = 0;
        ASSERT_EQ(Add(cache, "first", "bob", "home"), 1);
        ASSERT_EQ(NextFor(cache, "bob", "home", &record), "first");
        ASSERT_EQ(cache.SetMsgSent(record), 1);
        marked.push_back(record);
        // Enough records that the index passes 2 MiB.
        constexpr int kMore = 17000;
        for (int i = 0; i < kMore; ++i)
            ASSERT_EQ(Add(cache, "m", i % 2 ? "carol" : "bob", "home"), 1);
        for (int i = 0; i < 3; ++i) {
            ASSERT_EQ(NextFor(cache, i == 2 ? "carol" : "bob", "home", &record), "m");
            ASSERT_EQ(cache.SetMsgSent(record), 1);
            marked.push_back(record);
        }
        std::string bytes;
        while (cache.GetUserMsg(bytes, record, "carol", "home") == 1)
            marked.push_back(record);
        for (std::size_t i = 4; i < marked.size(); ++i)
            ASSERT_EQ(cache.SetMsgSent(marked[i]), 1);
    }
    const auto index = ReadBytes(folder.File("msg_index.dat"));
    for (const std::uint32_t n : marked)
        EXPECT_EQ(index.at(RecordPosition(n) + kSentAt), 1) << "record " << n;
    EXPECT_EQ(index.at(RecordPosition(5) + kSentAt), 0) << "bob's third, never marked";
    CMsgCache reopened(folder.Log());
    ASSERT_EQ(reopened.OpenCache(folder.Path()), 1);
    EXPECT_EQ(reopened.ScannedPending(), 17001 - static_cast<int>(marked.size()));
    EXPECT_FALSE(reopened.HasPendingFor("carol", "home"));
}
