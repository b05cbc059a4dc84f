#include "CLatencyHistogram.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace quorvel::load {

std::size_t CLatencyHistogram::IndexOf(std::uint64_t micros)
{
    if (micros < kSubBuckets)
        return static_cast<std::size_t>(micros);
    // Values in [2^e, 2^(e+1)) with e >= kSubBits share kSubBuckets buckets.
    const int exponent = std::bit_width(micros) - 1;
    const int shift = exponent - kSubBits;
    const auto sub = static_cast<std::size_t>((micros >> shift) - kSubBuckets);
    return static_cast<std::size_t>(shift + 1) * kSubBuckets + sub;
}

std::uint64_t CLatencyHistogram::LowOf(std::size_t index)
{
    if (index < kSubBuckets)
        return index;
    const std::size_t shift = index / kSubBuckets - 1;
    const std::uint64_t sub = index % kSubBuckets;
    return (kSubBuckets + sub) << shift;
}

std::uint64_t CLatencyHistogram::HighOf(std::size_t index)
{
    if (index < kSubBuckets)
        return index + 1;
    const std::size_t shift = index / kSubBuckets - 1;
    return LowOf(index) + (std::uint64_t{1} << shift);
}

void CLatencyHistogram::Record(std::uint64_t micros)
{
    const std::size_t index = IndexOf(micros);
    if (counts_.size() <= index)
        counts_.resize(index + 1, 0);
    ++counts_[index];
    ++count_;
    sum_ += micros;
    max_ = std::max(max_, micros);
}

void CLatencyHistogram::Merge(const CLatencyHistogram& other)
{
    if (counts_.size() < other.counts_.size())
        counts_.resize(other.counts_.size(), 0);
    for (std::size_t i = 0; i < other.counts_.size(); ++i)
        counts_[i] += other.counts_[i];
    count_ += other.count_;
    sum_ += other.sum_;
    max_ = std::max(max_, other.max_);
}

std::uint64_t CLatencyHistogram::Percentile(double p) const
{
    if (count_ == 0)
        return 0;
    if (p >= 1.0)
        return max_;
    const auto wanted = static_cast<std::uint64_t>(std::ceil(std::max(p, 0.0) * static_cast<double>(count_)));
    std::uint64_t seen = 0;
    for (std::size_t i = 0; i < counts_.size(); ++i) {
        seen += counts_[i];
        if (seen >= std::max<std::uint64_t>(wanted, 1))
            return std::min(HighOf(i) - 1, max_);
    }
    return max_;
}

std::vector<CLatencyHistogram::Bucket> CLatencyHistogram::Buckets() const
{
    std::vector<Bucket> out;
    for (std::size_t i = 0; i < counts_.size(); ++i)
        if (counts_[i] != 0)
            out.push_back({LowOf(i), HighOf(i), counts_[i]});
    return out;
}

} // namespace quorvel::load
