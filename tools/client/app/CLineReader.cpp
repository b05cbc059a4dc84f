#include "CLineReader.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

bool CLineReader::TakeLine(std::string& line)
{
    const auto newline = buffer_.find('\n');
    if (newline == std::string::npos) {
        if (!ended_ || buffer_.empty())
            return false;
        line = std::move(buffer_);
        buffer_.clear();
        return true;
    }
    line = buffer_.substr(0, newline);
    buffer_.erase(0, newline + 1);
    return true;
}

CLineReader::Result CLineReader::Next(std::string& line, std::chrono::milliseconds wait)
{
    for (;;) {
        if (TakeLine(line))
            return Result::kLine;
        if (ended_)
            return Result::kEnd;
        pollfd p{fd_, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(wait.count()));
        if (ready == 0)
            return Result::kIdle;
        if (ready < 0 && errno == EINTR)
            continue;
        char chunk[4096];
        const ssize_t n = ready < 0 ? -1 : ::read(fd_, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ended_ = true;
            continue;
        }
        // A line beyond kMaxLine keeps its start; the rest up to its
        // newline is dropped.
        for (ssize_t i = 0; i < n; ++i) {
            if (chunk[i] == '\n') {
                buffer_ += '\n';
                partial_ = 0;
            } else if (partial_ < kMaxLine) {
                buffer_ += chunk[i];
                ++partial_;
            }
        }
    }
}
