#include "CTerminalOutput.h"

#include "quorvel_test_support/TempFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <thread>
#include <vector>

using quorvel::terminal::CTerminalOutput;
using quorvel::testsupport::TempFolder;

namespace {

std::string Utf8(const char8_t* text)
{
    return reinterpret_cast<const char*>(text);
}

class CTerminalOutputTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ASSERT_GE(fd_, 0);
    }
    void TearDown() override { ::close(fd_); }

    TempFolder dir_;
    const std::filesystem::path path_ = dir_ / "out.txt";
    int fd_ = -1;
};

TEST_F(CTerminalOutputTest, FlushedLinesAreInTheFileConvertedAndInOrder)
{
    CTerminalOutput output(fd_);
    output.WriteLine("[2017-03-05 09:07:03] 日志\r\n");
    output.WriteLine("answer", true);
    output.Flush();
    EXPECT_EQ(TempFolder::Read(path_), Utf8(u8"[2017-03-05 09:07:03] 日志\nanswer\n"));
    output.WriteLine("after");
    output.Flush();
    EXPECT_EQ(TempFolder::Read(path_), Utf8(u8"[2017-03-05 09:07:03] 日志\nanswer\nafter\n"));
}

TEST_F(CTerminalOutputTest, LinesFromThreadsArriveWholeEachThreadsInOrderAndAllByTheEnd)
{
    constexpr int kThreads = 3;
    constexpr int kLines = 20000;   // several gathering thresholds' worth
    {
        CTerminalOutput output(fd_);
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([&output, t] {
                for (int i = 0; i < kLines; ++i)
                    output.WriteLine("thread " + std::to_string(t) + " line " + std::to_string(i) + " 消息\r\n");
            });
        for (auto& thread : threads)
            thread.join();
    }
    std::istringstream text(TempFolder::Read(path_));
    std::vector<int> next(kThreads, 0);
    std::string line;
    int count = 0;
    while (std::getline(text, line)) {
        int t = -1;
        int i = -1;
        char suffix[16] = {};
        ASSERT_EQ(std::sscanf(line.c_str(), "thread %d line %d %15s", &t, &i, suffix), 3) << line;
        ASSERT_TRUE(t >= 0 && t < kThreads) << line;
        EXPECT_EQ(i, next[t]++) << line;
        EXPECT_EQ(suffix, Utf8(u8"消息"));
        ++count;
    }
    EXPECT_EQ(count, kThreads * kLines);
}

} // namespace
