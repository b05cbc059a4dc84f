#include "scrivlet/CLog4c.h"
#include "scrivlet/LogText.h"

#include "quorvel_test_support/TempFolder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <iostream>
#include <iterator>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using quorvel::testsupport::TempFolder;
using scrivlet::CLog4c;
using scrivlet::kMaxErrorText;

namespace fs = std::filesystem;

namespace {

// Lines received by the callback, shared by every test (callbacks are plain
// function pointers).
std::mutex g_seenLock;
std::vector<std::string> g_seen;

void Record(const char* line)
{
    std::lock_guard<std::mutex> guard(g_seenLock);
    g_seen.emplace_back(line);
}

std::vector<std::string> Seen()
{
    std::lock_guard<std::mutex> guard(g_seenLock);
    return g_seen;
}

// A settable clock, safe to read from any thread.
struct TestClock {
    std::atomic<int> day{5};
    std::atomic<int> hour{9};
    CLog4c::Clock Get()
    {
        return [this] { return CLog4c::LocalTime{2017, 3, day.load(), hour.load(), 7, 3}; };
    }
};

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class CLog4cTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::lock_guard<std::mutex> guard(g_seenLock);
        g_seen.clear();
    }

    TempFolder folder_;
    const fs::path dir_ = folder_.Path();
    TestClock clock_;
};

TEST(GbkLiteral, ChineseLiteralIsStoredAsGbk)
{
    EXPECT_EQ(std::string("日志"), std::string("\xC8\xD5\xD6\xBE"));
}

TEST_F(CLog4cTest, LineHasLocalTimeStampAndReachesCallbackAndFile)
{
    {
        CLog4c log(clock_.Get());
        log.InitInstance(dir_.string());
        log.RegLogEvent(&Record);
        log.LogEvent("abc");
    }
    const std::string expected = "[2017-03-05 09:07:03] abc\r\n";
    EXPECT_EQ(Seen(), std::vector<std::string>{expected});
    EXPECT_EQ(ReadFile(dir_ / "2017-03-05.txt"), expected);
}

TEST_F(CLog4cTest, LevelNamesPrefixFormattedMessages)
{
    CLog4c log(clock_.Get());
    log.InitInstance(dir_.string());
    log.RegLogEvent(&Record);
    log.LogEvent(0, "n=%d", 7);
    log.LogEvent(1, "%s", "x");
    log.LogEvent(5, "five");
    log.LogEvent(-1, "minus");
    const std::string stamp = "[2017-03-05 09:07:03] ";
    EXPECT_EQ(Seen(), (std::vector<std::string>{stamp + "INFOR n=7\r\n", stamp + "DEBUG x\r\n",
                                                 stamp + "ERROR five\r\n", stamp + "ERROR minus\r\n"}));
}

TEST_F(CLog4cTest, ControlCharactersInTextsCannotForgeALine)
{
    {
        CLog4c log(clock_.Get());
        log.InitInstance(dir_.string());
        log.RegLogEvent(&Record);
        log.LogEvent(0, "用户 %s 登录失败", "eve\r\n[2026-12-08 01:00:00] INFOR 用户 alice 登录成功\x1b[2J\t");
    }
    const std::string expected =
        "[2017-03-05 09:07:03] INFOR 用户 eve\\r\\n[2026-12-08 01:00:00] INFOR 用户 alice 登录成功\\x1b[2J\\t 登录失败\r\n";
    EXPECT_EQ(Seen(), std::vector<std::string>{expected});
    EXPECT_EQ(ReadFile(dir_ / "2017-03-05.txt"), expected);
}

TEST_F(CLog4cTest, WarnsAboutMissingFolderOnlyBeforeInitInstance)
{
    CLog4c log(clock_.Get());
    log.RegLogEvent(&Record);
    ASSERT_EQ(Seen().size(), 1u);
    EXPECT_EQ(Seen()[0], "[2017-03-05 09:07:03] log4c 类管理器未指定日志文件保存路径,将不会保存日志文件!\r\n");

    log.InitInstance(dir_.string());
    log.RegLogEvent(&Record);
    EXPECT_EQ(Seen().size(), 1u);
}

TEST_F(CLog4cTest, PassingThresholdWritesAtOnceAndEmptiesPending)
{
    const fs::path file = dir_ / "2017-03-05.txt";
    {
        CLog4c log(clock_.Get());
        log.InitInstance(dir_.string());
        // 256 lines of 1024 bytes (stamp 22, text 1000, line end 2): exactly
        // 256 KiB gathered, which is not yet more than the threshold.
        const std::string text(1000, 'x');
        for (int i = 0; i < 256; ++i) {
            log.LogEvent(text.c_str());
            ASSERT_FALSE(fs::exists(file)) << "written after line " << i + 1;
        }
        log.LogEvent("y");
        ASSERT_TRUE(fs::exists(file));
        EXPECT_EQ(fs::file_size(file), 262144u + 25u);
    }
    // Nothing was left pending for the destructor.
    EXPECT_EQ(fs::file_size(file), 262144u + 25u);
}

TEST_F(CLog4cTest, AFileRemovedBetweenSavesIsCreatedAgain)
{
    const fs::path file = dir_ / "2017-03-05.txt";
    CLog4c log(clock_.Get());
    log.InitInstance(dir_.string());
    log.LogEvent("first");
    log.SaveToFile();
    log.LogEvent("second");
    log.SaveToFile();
    EXPECT_EQ(ReadFile(file), "[2017-03-05 09:07:03] first\r\n[2017-03-05 09:07:03] second\r\n");
    fs::remove(file);
    log.LogEvent("third");
    log.SaveToFile();
    EXPECT_EQ(ReadFile(file), "[2017-03-05 09:07:03] third\r\n");
}

TEST_F(CLog4cTest, DestructionWritesPendingAndCreatesNoFileWhenNothingPending)
{
    std::ofstream(dir_ / "2017-03-05.txt", std::ios::binary) << "old\r\n";
    {
        CLog4c log(clock_.Get());
        log.InitInstance(dir_.string());
        log.LogEvent("new");
    }
    EXPECT_EQ(ReadFile(dir_ / "2017-03-05.txt"), "old\r\n[2017-03-05 09:07:03] new\r\n");

    clock_.day = 6;
    {
        CLog4c log(clock_.Get());
        log.InitInstance(dir_.string());
    }
    EXPECT_FALSE(fs::exists(dir_ / "2017-03-06.txt"));
}

TEST_F(CLog4cTest, MissingFolderCreatesNothingAndShowsNothing)
{
    {
        CLog4c log(clock_.Get());
        log.InitInstance((dir_ / "absent").string());
        log.RegLogEvent(&Record);
        log.LogEvent("abc");
        log.SaveToFile();
    }
    EXPECT_EQ(Seen().size(), 1u);
    EXPECT_TRUE(fs::is_empty(dir_));
}

TEST_F(CLog4cTest, LinesSavedAfterMidnightGoToTheNewDay)
{
    clock_.hour = 23;
    {
        CLog4c log(clock_.Get());
        log.InitInstance(dir_.string());
        log.LogEvent("late");
        clock_.day = 6;
        clock_.hour = 0;
    }
    EXPECT_FALSE(fs::exists(dir_ / "2017-03-05.txt"));
    EXPECT_EQ(ReadFile(dir_ / "2017-03-06.txt"), "[2017-03-05 23:07:03] late\r\n");
}

TEST_F(CLog4cTest, LongMessagesAreCutAtACharacterBoundary)
{
    CLog4c log(clock_.Get());
    log.RegLogEvent(&Record);
    const std::string prefix = "[2017-03-05 09:07:03] INFOR ";
    // "日" (two bytes) would end one byte past the 1023 kept: it is dropped whole.
    log.LogEvent(0, "%s日", std::string(1022, 'a').c_str());
    // Ending exactly at byte 1023 it is kept.
    log.LogEvent(0, "%s日z", std::string(1021, 'a').c_str());
    const std::vector<std::string> seen = Seen();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[1], prefix + std::string(1022, 'a') + "\r\n");
    EXPECT_EQ(seen[2], prefix + std::string(1021, 'a') + "日\r\n");
}

TEST_F(CLog4cTest, ExceptionTextGoesToCallbackOnly)
{
    std::atomic<bool> fail{true};
    CLog4c log([&]() -> CLog4c::LocalTime {
        if (fail)
            throw std::runtime_error(std::string(300, 'e'));
        return {2017, 3, 5, 9, 7, 3};
    });
    log.InitInstance(dir_.string());
    log.RegLogEvent(&Record);
    fail = false;
    log.LogEvent("kept");
    fail = true;
    log.LogEvent("lost");
    const std::vector<std::string> seen = Seen();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1], std::string(kMaxErrorText, 'e'));
    fail = false;
    log.SaveToFile();
    EXPECT_EQ(ReadFile(dir_ / "2017-03-05.txt"), "[2017-03-05 09:07:03] kept\r\n");
}

TEST_F(CLog4cTest, CopyKeepsPathPendingAndCallback)
{
    CLog4c original(clock_.Get());
    original.InitInstance(dir_.string());
    original.RegLogEvent(&Record);
    original.LogEvent("one");
    CLog4c copy(clock_.Get());
    copy = original;
    copy.LogEvent("two");
    copy.SaveToFile();
    EXPECT_EQ(Seen().size(), 2u);
    EXPECT_EQ(ReadFile(dir_ / "2017-03-05.txt"), "[2017-03-05 09:07:03] one\r\n[2017-03-05 09:07:03] two\r\n");
}

TEST_F(CLog4cTest, ManyThreadsLoseNoLineAndInterleaveNone)
{
    constexpr int kThreads = 4;
    constexpr int kLines = 4000;
    {
        CLog4c log(clock_.Get());
        log.InitInstance(dir_.string());
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&log, t] {
                for (int i = 0; i < kLines; ++i)
                    log.LogEvent(0, "thread %d line %06d %s", t, i, "padding-padding-padding-padding");
            });
        }
        for (auto& thread : threads)
            thread.join();
    }
    std::ifstream in(dir_ / "2017-03-05.txt", std::ios::binary);
    std::vector<int> next(kThreads, 0);
    std::string line;
    int count = 0;
    while (std::getline(in, line)) {
        int t = -1;
        int i = -1;
        ASSERT_EQ(std::sscanf(line.c_str(), "[2017-03-05 09:07:03] INFOR thread %d line %d", &t, &i), 2) << line;
        ASSERT_TRUE(t >= 0 && t < kThreads) << line;
        EXPECT_EQ(i, next[t]++) << "lines of one thread out of order";
        EXPECT_EQ(line, "[2017-03-05 09:07:03] INFOR thread " + std::to_string(t) + " line " +
                            std::string(6 - std::to_string(i).size(), '0') + std::to_string(i) +
                            " padding-padding-padding-padding\r");
        ++count;
    }
    EXPECT_EQ(count, kThreads * kLines);
}

// A callback that logs, and waits for another thread that logs, must not
// deadlock: the line "outer" triggers both. The line it was given must
// still read "outer" afterwards: it records it once more.
CLog4c* g_nested = nullptr;

void LogFromCallbackAndHelper(const char* line)
{
    Record(line);
    if (std::string(line).find("outer") == std::string::npos)
        return;
    std::thread([] { g_nested->LogEvent("from helper"); }).join();
    g_nested->LogEvent("from callback");
    Record(line);
}

TEST_F(CLog4cTest, CallbackMayLogAndWaitForThreadsThatLog)
{
    {
        CLog4c log(clock_.Get());
        log.InitInstance(dir_.string());
        g_nested = &log;
        log.RegLogEvent(&LogFromCallbackAndHelper);
        auto done = std::async(std::launch::async, [&log] { log.LogEvent("outer"); });
        if (done.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
            std::cerr << "deadlock: a callback waiting on a logging thread never returned\n";
            std::_Exit(1);
        }
        g_nested = nullptr;
    }
    const std::string stamp = "[2017-03-05 09:07:03] ";
    const std::vector<std::string> expected{stamp + "outer\r\n", stamp + "from helper\r\n",
                                            stamp + "from callback\r\n"};
    std::vector<std::string> seen = expected;
    seen.push_back(expected[0]);
    EXPECT_EQ(Seen(), seen);
    EXPECT_EQ(ReadFile(dir_ / "2017-03-05.txt"), expected[0] + expected[1] + expected[2]);
}

} // namespace
