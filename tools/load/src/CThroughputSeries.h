#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

namespace quorvel::load {

// Events counted in fixed time slices from a start time, for a throughput
// over time chart. One thread at a time.
class CThroughputSeries {
public:
    using Clock = std::chrono::steady_clock;

    explicit CThroughputSeries(std::chrono::milliseconds slice = std::chrono::milliseconds(100));

    void Start(Clock::time_point start) { start_ = start; }
    void Add(Clock::time_point when, std::uint64_t count = 1);

    std::chrono::milliseconds Slice() const { return slice_; }
    // Counts per slice, from the start; slices with no event are 0.
    const std::vector<std::uint64_t>& Counts() const { return counts_; }
    // Events per second in each slice.
    std::vector<double> Rates() const;

private:
    std::chrono::milliseconds slice_;
    Clock::time_point start_{};
    std::vector<std::uint64_t> counts_;
};

} // namespace quorvel::load
