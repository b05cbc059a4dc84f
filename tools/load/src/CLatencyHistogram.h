#pragma once

#include <cstdint>
#include <vector>

namespace quorvel::load {

// Latencies in microseconds, kept in log-linear buckets: every power of two
// is split into kSubBuckets equal parts, so a percentile read back is within
// 1/kSubBuckets (about 3 %) of the true value whatever the range. The
// maximum is kept exactly. One thread at a time.
class CLatencyHistogram {
public:
    static constexpr int kSubBits = 5;
    static constexpr int kSubBuckets = 1 << kSubBits;

    void Record(std::uint64_t micros);
    void Merge(const CLatencyHistogram& other);

    std::uint64_t Count() const { return count_; }
    std::uint64_t Max() const { return max_; }
    // The smallest recorded bucket value v such that at least p (0..1) of
    // the samples are <= v; 0 when empty. Percentile(1) is the exact max.
    std::uint64_t Percentile(double p) const;
    double Mean() const { return count_ ? static_cast<double>(sum_) / static_cast<double>(count_) : 0.0; }

    // One bucket for drawing: values in [low, high) and their count.
    struct Bucket {
        std::uint64_t low;
        std::uint64_t high;
        std::uint64_t count;
    };
    // Non-empty buckets in ascending order.
    std::vector<Bucket> Buckets() const;

    static std::size_t IndexOf(std::uint64_t micros);
    static std::uint64_t LowOf(std::size_t index);
    static std::uint64_t HighOf(std::size_t index);

private:
    std::vector<std::uint64_t> counts_;
    std::uint64_t count_ = 0;
    std::uint64_t sum_ = 0;
    std::uint64_t max_ = 0;
};

} // namespace quorvel::load
