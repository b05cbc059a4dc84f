#pragma once

#include <mutex>
#include <ostream>
#include <string>
#include <string_view>

namespace quorvel::client {

// Where a client session writes: one line per received message on the
// message stream, errors and notices on the error stream. Every line is
// flushed at once so a reader of a pipe sees it without delay. Any thread:
// each line is written whole.
class CClientOutput {
public:
    CClientOutput(std::ostream& messages, std::ostream& errors) : messages_(messages), errors_(errors) {}

    // A message line (received message or finished file).
    void Line(std::string_view text);
    // "error: TEXT" on the error stream.
    void Error(std::string_view text);
    // TEXT on the error stream (progress, help).
    void Notice(std::string_view text);

private:
    void Write(std::ostream& stream, std::string_view prefix, std::string_view text);

    std::mutex mutex_;
    std::ostream& messages_;
    std::ostream& errors_;
};

} // namespace quorvel::client
