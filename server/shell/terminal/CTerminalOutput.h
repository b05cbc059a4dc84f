#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace quorvel::terminal {

// The terminal's output: lines in UTF-8 written to a file descriptor by a
// thread of its own, so the service loop never waits for the terminal or
// for the file standard output goes to. Lines gather for up to kGatherDelay
// (or kGatherBytes) and go out in one write; a line asked for at once
// (an answer to a command) ends the wait. Bounded: callers wait while
// kMaxPending bytes are still unwritten; no line is dropped.
// Any thread may call WriteLine and Flush.
class CTerminalOutput {
public:
    static constexpr std::chrono::milliseconds kGatherDelay{20};
    static constexpr std::size_t kGatherBytes = 65536;
    static constexpr std::size_t kMaxPending = 8u << 20;

    explicit CTerminalOutput(int fd);
    // Writes what is pending, then ends the thread.
    ~CTerminalOutput();
    CTerminalOutput(const CTerminalOutput&) = delete;
    CTerminalOutput& operator=(const CTerminalOutput&) = delete;

    // Queues one GBK line (its own "\r\n" or "\n" becomes "\n"), converted
    // as CTerminalText does; `now` has it written without gathering others.
    void WriteLine(std::string_view gbkLine, bool now = false);
    // Returns once every line queued before the call is written (or its
    // write failed).
    void Flush();

private:
    void Run();
    void WriteAll(const std::string& bytes) const;

    const int fd_;
    std::mutex lock_;
    std::condition_variable wake_;   // the writer: text, a hurry or the end
    std::condition_variable room_;   // callers: text written
    std::string pending_;
    std::uint64_t queued_ = 0;       // bytes queued so far
    std::uint64_t written_ = 0;      // of those, bytes handed to the descriptor
    bool hurry_ = false;
    bool stop_ = false;
    std::thread thread_;
};

} // namespace quorvel::terminal
