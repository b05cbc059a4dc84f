#include "quorvel_store/CMsgCache.h"
#include "CacheTestSupport.h"
#include "quorvel_store/MsgIndexLayout.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

using quorvel::store::CMsgCache;
using quorvel::store::MSG_INDEX;
using quorvel::store::MSG_INDEX_HEAD;

namespace {

constexpr std::size_t kHead = 8;
constexpr std::size_t kRecord = 132;

// Builds index files by hand, as a crash or another program may leave them.
class IndexImage {
public:
    explicit IndexImage(std::uint32_t count)
    {
        MSG_INDEX_HEAD head{count, 0};
        bytes.resize(kHead);
        head.Encode(bytes.data());
    }

    IndexImage& Record(const std::string& user, std::uint32_t offset, std::uint32_t length)
    {
        MSG_INDEX record{"alice", "home", user, "home", 0, offset, length};
        const std::size_t at = bytes.size();
        bytes.resize(at + kRecord);
        record.Encode(bytes.data() + at);
        return *this;
    }

    IndexImage& Tail(std::size_t junk)
    {
        bytes.insert(bytes.end(), junk, 0x5A);
        return *this;
    }

    std::vector<std::uint8_t> bytes;
};

std::vector<std::uint8_t> Data(const std::string& text)
{
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

class MsgCacheRepairTest : public ::testing::Test {
protected:
    void Write(const IndexImage& index, const std::string& data)
    {
        WriteBytes(folder.File("msg_index.dat"), index.bytes);
        WriteBytes(folder.File("msg_data.dat"), Data(data));
    }

    std::string NextFor(CMsgCache& cache, const std::string& user, std::uint32_t* record = nullptr)
    {
        std::string bytes;
        std::uint32_t n = 0;
        if (!cache.GetUserMsg(bytes, n, user, "home"))
            return "";
        if (record)
            *record = n;
        return bytes;
    }

    std::size_t IndexSize() { return ReadBytes(folder.File("msg_index.dat")).size(); }

    CacheTestFolder folder;
};

TEST_F(MsgCacheRepairTest, RecordWrittenBeforeACrashIsAdoptedAtOpening)
{
    // Two records counted, a third written whole with its data, head not yet.
    Write(IndexImage(2).Record("bob", 0, 2).Record("bob", 2, 2).Record("carol", 4, 3), "b1b2c01");
    CMsgCache cache(folder.Log());
    cache.OpenCache(folder.Path());
    EXPECT_EQ(cache.ScannedPending(), 3);
    EXPECT_EQ(NextFor(cache, "carol"), "c01");
    EXPECT_EQ(U32At(ReadBytes(folder.File("msg_index.dat")), 0), 3u);
    EXPECT_EQ(CacheTestFolder::LinesWith("ERROR 消息索引文件长度与记录数不符,已修复:记录数 2 -> 3").size(), 1u);

    // The next record goes right after the adopted one.
    ASSERT_EQ(cache.AddMsg("d", 1, "a", "home", "dave", "home"), 1);
    EXPECT_EQ(IndexSize(), kHead + 4 * kRecord);
    std::uint32_t n = 0;
    EXPECT_EQ(NextFor(cache, "dave", &n), "d");
    EXPECT_EQ(n, 3u);
}

TEST_F(MsgCacheRepairTest, TornTailAndRecordsWithoutDataAreCutOff)
{
    // Record 1 names bytes the data file never received; then half a record.
    Write(IndexImage(1).Record("bob", 0, 2).Record("carol", 2, 50).Tail(60), "b1");
    CMsgCache cache(folder.Log());
    cache.OpenCache(folder.Path());
    EXPECT_EQ(IndexSize(), kHead + kRecord);
    EXPECT_EQ(NextFor(cache, "carol"), "");
    EXPECT_EQ(CacheTestFolder::LinesWith("记录数 1 -> 1").size(), 1u);

    cache.AddMsg("c2", 2, "a", "home", "carol", "home");
    std::uint32_t n = 0;
    EXPECT_EQ(NextFor(cache, "carol", &n), "c2");
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(NextFor(cache, "bob"), "b1");
}

TEST_F(MsgCacheRepairTest, CountBeyondTheFileShrinksToTheRecordsPresent)
{
    Write(IndexImage(5).Record("bob", 0, 2).Record("bob", 2, 2), "b1b2");
    CMsgCache cache(folder.Log());
    cache.OpenCache(folder.Path());
    EXPECT_EQ(cache.ScannedPending(), 2);
    EXPECT_EQ(U32At(ReadBytes(folder.File("msg_index.dat")), 0), 2u);
    EXPECT_EQ(CacheTestFolder::LinesWith("记录数 5 -> 2").size(), 1u);
}

TEST_F(MsgCacheRepairTest, IndexShorterThanItsHeadIsKeptAsideAndStartsEmpty)
{
    const std::vector<std::uint8_t> stub{1, 2, 3, 4, 5};
    WriteBytes(folder.File("msg_index.dat"), stub);
    CMsgCache cache(folder.Log());
    cache.OpenCache(folder.Path());
    EXPECT_TRUE(cache.IsOpened());
    EXPECT_EQ(ReadBytes(folder.File("msg_index.dat.bad")), stub);
    EXPECT_EQ(ReadBytes(folder.File("msg_index.dat")), std::vector<std::uint8_t>(kHead, 0));
    EXPECT_EQ(CacheTestFolder::LinesWith("ERROR 消息索引文件不完整(5 字节)").size(), 1u);
}

TEST_F(MsgCacheRepairTest, RecordsWhoseBytesNeverReachedTheDataFileAreDroppedAndNotShared)
{
    // A crash between index and data: the head counts 3, two records are
    // whole, the second names bytes 159..315 of a data file that holds only
    // the first message's 159 bytes.
    const std::string before = "before" + std::string(153, '.');
    const std::string after = "aft1" + std::string(153, '.');
    Write(IndexImage(3).Record("bob", 0, 159).Record("bob", 159, 157), before);
    CMsgCache cache(folder.Log());
    cache.OpenCache(folder.Path());
    EXPECT_EQ(CacheTestFolder::LinesWith("ERROR 消息索引文件长度与记录数不符,已修复:记录数 3 -> 1").size(), 1u);
    EXPECT_EQ(cache.ScannedPending(), 1);

    ASSERT_EQ(cache.AddMsg(after.data(), after.size(), "alice", "home", "bob", "home"), 1);
    std::vector<std::string> received;
    std::uint32_t n = 0;
    for (std::string next; !(next = NextFor(cache, "bob", &n)).empty(); cache.SetMsgSent(n))
        received.push_back(next);
    EXPECT_EQ(received, (std::vector<std::string>{before, after}));
}

TEST_F(MsgCacheRepairTest, IndexOfTheRightLengthStillLosesRecordsWithoutData)
{
    // Index and head written, data not: the length agrees with the head.
    Write(IndexImage(2).Record("bob", 0, 2).Record("bob", 2, 2), "b1");
    CMsgCache cache(folder.Log());
    cache.OpenCache(folder.Path());
    EXPECT_EQ(IndexSize(), kHead + kRecord);
    EXPECT_EQ(CacheTestFolder::LinesWith("记录数 2 -> 1").size(), 1u);
    cache.AddMsg("b3", 2, "a", "home", "bob", "home");
    std::uint32_t n = 0;
    EXPECT_EQ(NextFor(cache, "bob", &n), "b1");
    cache.SetMsgSent(n);
    EXPECT_EQ(NextFor(cache, "bob"), "b3");
}

TEST_F(MsgCacheRepairTest, AppendsGoPastEveryByteAKeptRecordClaims)
{
    // A damaged record in the middle names bytes the data file lacks.
    Write(IndexImage(3).Record("bob", 0, 2).Record("carol", 2, 50).Record("dave", 2, 2), "b1d1");
    CMsgCache cache(folder.Log());
    cache.OpenCache(folder.Path());
    ASSERT_EQ(cache.AddMsg("e1", 2, "a", "home", "eve", "home"), 1);
    EXPECT_EQ(U32At(ReadBytes(folder.File("msg_index.dat")), kHead + 3 * kRecord + 124), 52u);
    EXPECT_EQ(NextFor(cache, "eve"), "e1");
    EXPECT_EQ(NextFor(cache, "dave"), "d1");
}

TEST_F(MsgCacheRepairTest, MessageCutShortInTheDataFileIsHandedOutAsFarAsItExists)
{
    Write(IndexImage(2).Record("bob", 0, 2).Record("bob", 2, 10), "b1b2-1234567");
    CMsgCache cache(folder.Log());
    cache.OpenCache(folder.Path());
    // The data file loses its end while the cache runs.
    std::filesystem::resize_file(folder.File("msg_data.dat"), 5);
    std::uint32_t n = 0;
    NextFor(cache, "bob", &n);
    cache.SetMsgSent(n);
    EXPECT_EQ(NextFor(cache, "bob", &n), "b2-");
    EXPECT_EQ(CacheTestFolder::LinesWith("ERROR 缓存消息数据不完整,记录:1 长度:10 读到:3").size(), 1u);
}

TEST_F(MsgCacheRepairTest, MessagesReadTogetherAreCutWhereTheDataFileEnds)
{
    Write(IndexImage(3).Record("bob", 0, 4).Record("bob", 4, 4).Record("bob", 8, 4), "b1-1b2-2b3-3");
    CMsgCache cache(folder.Log());
    cache.OpenCache(folder.Path());
    std::filesystem::resize_file(folder.File("msg_data.dat"), 6);
    std::vector<CMsgCache::StoredMsg> stored;
    ASSERT_EQ(cache.GetUserMsgs(stored, "bob", "home", 10, 100), 3);
    EXPECT_EQ(stored[0].bytes, "b1-1");
    EXPECT_EQ(stored[1].bytes, "b2");
    EXPECT_EQ(stored[2].bytes, "");
    EXPECT_EQ(CacheTestFolder::LinesWith("ERROR 缓存消息数据不完整,记录:1 长度:4 读到:2").size(), 1u);
    EXPECT_EQ(CacheTestFolder::LinesWith("ERROR 缓存消息数据不完整,记录:2 长度:4 读到:0").size(), 1u);
}

TEST_F(MsgCacheRepairTest, LargeMessageCutShortIsReadOnlyAsFarAsItExists)
{
    // Past 64 KiB a length is held against the file's size before reading.
    Write(IndexImage(1).Record("bob", 2, 70000), "b1xyz" + std::string(69997, 'z'));
    CMsgCache cache(folder.Log());
    cache.OpenCache(folder.Path());
    std::filesystem::resize_file(folder.File("msg_data.dat"), 5);
    EXPECT_EQ(NextFor(cache, "bob"), "xyz");
    EXPECT_EQ(CacheTestFolder::LinesWith("ERROR 缓存消息数据不完整,记录:0 长度:70000 读到:3").size(), 1u);
}

} // namespace
