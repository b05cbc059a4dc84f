#include "quorvel_store/CMsgCache.h"
#include "CacheTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

using quorvel::store::CMsgCache;

namespace {

constexpr std::size_t kHead = 8;
constexpr std::size_t kRecord = 132;
constexpr std::uint64_t k4GiB = std::uint64_t{1} << 32;

class MsgCacheCompactionTest : public ::testing::Test {
protected:
    std::unique_ptr<CMsgCache> Open(const CMsgCache::Limits& limits, CMsgCache::Faults faults = {})
    {
        auto cache = std::make_unique<CMsgCache>(folder.Log());
        cache->SetLimits(limits);
        cache->InjectFaults(std::move(faults));
        cache->OpenCache(folder.Path());
        return cache;
    }

    static int Add(CMsgCache& cache, const std::string& body, const std::string& user,
                   const std::string& source = "alice")
    {
        return cache.AddMsg(body.data(), body.size(), source, "home", user, "home");
    }

    // Delivers (hands out and marks sent) the user's next `count` messages.
    static std::vector<std::string> Deliver(CMsgCache& cache, const std::string& user, std::size_t count = 1000)
    {
        std::vector<std::string> got;
        std::string bytes;
        std::uint32_t n = 0;
        while (got.size() < count && cache.GetUserMsg(bytes, n, user, "home") == 1) {
            got.push_back(bytes);
            cache.SetMsgSent(n);
        }
        return got;
    }

    std::uint64_t Size(const char* name) { return std::filesystem::file_size(folder.File(name)); }

    // Ten 100-byte messages for bob, then one for carol; compaction from 1000
    // data bytes once three quarters are sent.
    static CMsgCache::Limits Small() { return CMsgCache::Limits{1000, 1 << 20, 1000}; }
    static std::string Body(int i) { return "m" + std::to_string(i) + std::string(i < 10 ? 98 : 97, '.'); }

    void Fill(CMsgCache& cache)
    {
        for (int i = 0; i < 10; ++i)
            ASSERT_EQ(Add(cache, Body(i), "bob"), 1);
        ASSERT_EQ(Add(cache, Body(10), "carol"), 1);
    }

    CacheTestFolder folder;
};

TEST_F(MsgCacheCompactionTest, SentRecordsAreReclaimedOnceTheDataFileIsLargeAndMostlySent)
{
    auto cache = Open(Small());
    Fill(*cache);
    EXPECT_EQ(Deliver(*cache, "bob", 8).size(), 8u);
    EXPECT_EQ(Size("msg_data.dat"), 1100u) << "more than a quarter still pending: kept";
    EXPECT_EQ(Deliver(*cache, "bob", 1).size(), 1u);
    // 200 of 1100 bytes pending: compacted to bob's last and carol's.
    EXPECT_EQ(Size("msg_data.dat"), 200u);
    EXPECT_EQ(Size("msg_index.dat"), kHead + 2 * kRecord);
    EXPECT_EQ(CacheTestFolder::LinesWith("INFOR 消息缓存已压缩:记录 11 -> 2,数据 1100 -> 200 字节,用时").size(), 1u);

    ASSERT_EQ(Add(*cache, Body(11), "bob"), 1);
    EXPECT_EQ(Deliver(*cache, "bob"), (std::vector<std::string>{Body(9), Body(11)}));
    cache.reset();
    cache = Open(Small());
    EXPECT_EQ(Deliver(*cache, "carol"), std::vector<std::string>{Body(10)});
    EXPECT_EQ(Deliver(*cache, "bob"), std::vector<std::string>{});
}

TEST_F(MsgCacheCompactionTest, NothingIsCompactedWhileARecordIsHandedOut)
{
    auto cache = Open(Small());
    Fill(*cache);
    std::string bytes;
    std::uint32_t carol = 0;
    ASSERT_EQ(cache->GetUserMsg(bytes, carol, "carol", "home"), 1);
    EXPECT_EQ(Deliver(*cache, "bob", 9).size(), 9u);
    EXPECT_EQ(Size("msg_data.dat"), 1100u);
    // Once the last one is back, the next sent mark reclaims the space.
    cache->ReleaseMsg(carol);
    EXPECT_EQ(Deliver(*cache, "bob"), std::vector<std::string>{Body(9)});
    EXPECT_EQ(Size("msg_data.dat"), 100u);
    EXPECT_EQ(Deliver(*cache, "carol"), std::vector<std::string>{Body(10)});
}

TEST_F(MsgCacheCompactionTest, ACrashAtAnyStepLeavesTheOldPairOrTheNewPair)
{
    for (const char* step : {"written", "marked", "index-renamed", "data-renamed"}) {
        SCOPED_TRACE(step);
        CacheTestFolder::ClearLines();
        std::filesystem::remove(folder.File("msg_index.dat"));
        std::filesystem::remove(folder.File("msg_data.dat"));
        auto cache = Open(Small(), {.compactionStep = [&](const char* at) { return std::string(at) != step; }});
        Fill(*cache);
        EXPECT_EQ(Deliver(*cache, "bob", 9).size(), 9u);
        EXPECT_FALSE(cache->IsOpened()) << "stopped as by a crash";
        cache.reset();

        // Reopened without compacting again, to see which pair it found.
        cache = Open(CMsgCache::Limits{1 << 30, 1 << 20, 1000});
        const bool committed = std::string(step) != "written";
        EXPECT_EQ(CacheTestFolder::LinesWith(committed ? "INFOR 中断的消息缓存压缩已完成" : "INFOR 已丢弃未完成的消息缓存压缩文件")
                      .size(),
                  1u);
        EXPECT_EQ(Size("msg_data.dat"), committed ? 200u : 1100u);
        EXPECT_EQ(Size("msg_index.dat"), kHead + (committed ? 2 : 11) * kRecord);
        EXPECT_EQ(Deliver(*cache, "bob"), std::vector<std::string>{Body(9)});
        EXPECT_EQ(Deliver(*cache, "carol"), std::vector<std::string>{Body(10)});
        for (const char* leftover : {"msg_index.dat.new", "msg_data.dat.new", "msg_compact.commit"})
            EXPECT_FALSE(std::filesystem::exists(folder.File(leftover))) << leftover;
    }
}

TEST_F(MsgCacheCompactionTest, ATargetsBacklogIsCappedAndRefusalsAreLoggedOncePerSenderAndTarget)
{
    auto cache = Open(CMsgCache::Limits{1 << 20, 250, 3});
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(Add(*cache, "x", "bob"), 1);
    EXPECT_EQ(Add(*cache, "x", "bob"), 0);
    EXPECT_EQ(Add(*cache, "x", "bob"), 0);
    EXPECT_EQ(Add(*cache, "x", "bob", "dave"), 0);
    EXPECT_EQ(CacheTestFolder::LinesWith("ERROR 目标用户待发消息超过上限,拒绝写入 source:alice@home target:bob@home 待发:3 条 3 字节").size(), 1u);
    EXPECT_EQ(CacheTestFolder::LinesWith("目标用户待发消息超过上限,拒绝写入 source:dave@home").size(), 1u);
    EXPECT_EQ(Add(*cache, "x", "carol"), 1) << "other targets are not affected";
    EXPECT_EQ(Deliver(*cache, "bob", 1).size(), 1u);
    EXPECT_EQ(Add(*cache, "y", "bob"), 1) << "room again once one is delivered";

    // The byte bound: 248 bytes pending for carol leaves room for one more byte.
    ASSERT_EQ(Add(*cache, std::string(248, 'c'), "carol"), 1);
    EXPECT_EQ(Add(*cache, "zz", "carol"), 0);
    EXPECT_EQ(Add(*cache, "z", "carol"), 1);
}

TEST_F(MsgCacheCompactionTest, AStoreAt4GiBReclaimsSentSpaceOrRefusesUntilItCan)
{
    // A sparse data file: one sent message of nearly 4 GiB, then one pending.
    {
        auto cache = Open(CMsgCache::Limits{50, 1 << 20, 1000});
        ASSERT_EQ(Add(*cache, "p", "bob"), 1);
    }
    std::vector<std::uint8_t> index = ReadBytes(folder.File("msg_index.dat"));
    index.resize(kHead + 2 * kRecord);
    std::copy(index.begin() + kHead, index.begin() + kHead + kRecord, index.begin() + kHead + kRecord);
    auto put = [&](std::size_t at, std::uint32_t value) {
        for (int i = 0; i < 4; ++i)
            index[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
    };
    put(0, 2);
    index[kHead + 120] = 1;
    put(kHead + 128, static_cast<std::uint32_t>(k4GiB - 200));
    put(kHead + kRecord + 124, static_cast<std::uint32_t>(k4GiB - 200));
    put(kHead + kRecord + 128, 100);
    WriteBytes(folder.File("msg_index.dat"), index);
    std::filesystem::resize_file(folder.File("msg_data.dat"), k4GiB - 100);

    // 100 bytes pending is more than one compaction copies: only a full
    // store compacts it.
    auto cache = Open(CMsgCache::Limits{50, 1 << 20, 1000});
    ASSERT_EQ(Size("msg_data.dat"), k4GiB - 100);
    ASSERT_EQ(Add(*cache, std::string(100, 'a'), "bob"), 1);
    std::string bytes;
    std::uint32_t out = 0;
    ASSERT_EQ(cache->GetUserMsg(bytes, out, "bob", "home"), 1);
    EXPECT_EQ(Add(*cache, std::string(100, 'b'), "carol"), 0) << "full, and a record is handed out";
    EXPECT_EQ(CacheTestFolder::LinesWith("ERROR 消息缓存文件已满,拒绝写入长度:100").size(), 1u);
    cache->ReleaseMsg(out);
    EXPECT_EQ(Add(*cache, std::string(100, 'b'), "carol"), 1);
    EXPECT_EQ(Size("msg_data.dat"), 300u);
    EXPECT_EQ(Deliver(*cache, "bob"), (std::vector<std::string>{std::string(100, '\0'), std::string(100, 'a')}));
    EXPECT_EQ(Deliver(*cache, "carol"), std::vector<std::string>{std::string(100, 'b')});
}

} // namespace
