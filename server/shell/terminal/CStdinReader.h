#pragma once

#include <functional>
#include <string>
#include <thread>

namespace quorvel::terminal {

// Reads standard input on a thread of its own and hands each line, without
// its line end, to a callback on that thread. The end of input just ends
// the reading. Lines longer than kMaxLine bytes are cut.
class CStdinReader {
public:
    static constexpr std::size_t kMaxLine = 4096;

    explicit CStdinReader(std::function<void(std::string)> onLine);
    // Stops reading (even while input is open and silent) and joins.
    ~CStdinReader();
    CStdinReader(const CStdinReader&) = delete;
    CStdinReader& operator=(const CStdinReader&) = delete;

private:
    void Run();
    void Deliver(std::string& pending, bool flushAll);

    std::function<void(std::string)> onLine_;
    int wake_[2] = {-1, -1};
    std::thread thread_;
};

} // namespace quorvel::terminal
