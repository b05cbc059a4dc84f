#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

// Keeps a flood of refusals from flooding the log: for each key (a cause,
// usually with the address it came from) a line is due at most once per
// interval, and the events met meanwhile are counted for the next line.
// Keys whose last line is older than the interval are forgotten when the
// table grows, so its size follows the keys active within one interval.
//
// Thread: one thread at a time (the owner's).
class CMinuteLog {
public:
    using Clock = std::chrono::steady_clock;

    explicit CMinuteLog(std::chrono::milliseconds interval = std::chrono::minutes(1)) : interval_(interval) {}

    // Counts one event for key; true when its line is due now, with
    // `skipped` set to the events of that key not logged since its last
    // line (0 for the first).
    bool Due(std::string_view key, Clock::time_point now, std::uint64_t& skipped);

private:
    struct Entry {
        Clock::time_point last;
        std::uint64_t skipped = 0;
    };
    void Prune(Clock::time_point now);

    std::chrono::milliseconds interval_;
    std::unordered_map<std::string, Entry> entries_;
    std::size_t pruneAt_ = kFirstPrune;
    static constexpr std::size_t kFirstPrune = 256;
};
