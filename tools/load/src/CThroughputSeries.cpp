#include "CThroughputSeries.h"

namespace quorvel::load {

CThroughputSeries::CThroughputSeries(std::chrono::milliseconds slice) : slice_(slice.count() > 0 ? slice : std::chrono::milliseconds(100)) {}

void CThroughputSeries::Add(Clock::time_point when, std::uint64_t count)
{
    if (when < start_)
        when = start_;
    const auto index = static_cast<std::size_t>((when - start_) / slice_);
    // A late event far beyond any sensible run is folded into the last
    // slice rather than growing the series without bound.
    constexpr std::size_t kMaxSlices = 100000;
    const std::size_t at = index < kMaxSlices ? index : kMaxSlices - 1;
    if (counts_.size() <= at)
        counts_.resize(at + 1, 0);
    counts_[at] += count;
}

std::vector<double> CThroughputSeries::Rates() const
{
    std::vector<double> rates;
    rates.reserve(counts_.size());
    const double seconds = std::chrono::duration<double>(slice_).count();
    for (auto c : counts_)
        rates.push_back(static_cast<double>(c) / seconds);
    return rates;
}

} // namespace quorvel::load
