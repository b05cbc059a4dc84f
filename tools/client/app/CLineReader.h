#pragma once

#include <chrono>
#include <cstddef>
#include <string>

// Reads lines from a file descriptor (a terminal, a pipe or a file) without
// blocking longer than asked, so the caller can notice other events (a lost
// connection) while no input comes. One thread.
class CLineReader {
public:
    // Longest line kept; the rest of a longer line is dropped.
    static constexpr std::size_t kMaxLine = 1024 * 1024;

    enum class Result { kLine, kIdle, kEnd };

    explicit CLineReader(int fd) : fd_(fd) {}

    // The next line without its "\n" (kLine), kIdle when none arrived
    // within `wait`, kEnd at the end of the input (after a last line that
    // had no "\n") or on a read error.
    Result Next(std::string& line, std::chrono::milliseconds wait);

private:
    bool TakeLine(std::string& line);

    int fd_;
    std::string buffer_;
    std::size_t partial_ = 0;  // bytes of the unfinished last line kept
    bool ended_ = false;
};
