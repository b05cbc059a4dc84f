#include "CLatencyHistogram.h"
#include "COrderChecker.h"
#include "CPacer.h"
#include "CThroughputSeries.h"

#include <gtest/gtest.h>

#include <random>

using quorvel::load::CLatencyHistogram;
using quorvel::load::COrderChecker;
using quorvel::load::CPacer;
using quorvel::load::CThroughputSeries;

TEST(LatencyHistogramTest, BucketsCoverEveryValueContiguously)
{
    for (std::uint64_t v : {0ull, 1ull, 31ull, 32ull, 33ull, 63ull, 64ull, 1000ull, 123456789ull, 1ull << 40}) {
        const auto i = CLatencyHistogram::IndexOf(v);
        EXPECT_LE(CLatencyHistogram::LowOf(i), v) << v;
        EXPECT_GT(CLatencyHistogram::HighOf(i), v) << v;
        EXPECT_EQ(CLatencyHistogram::HighOf(i), CLatencyHistogram::LowOf(i + 1)) << v;
    }
}

TEST(LatencyHistogramTest, PercentilesWithinBucketPrecisionAndExactMax)
{
    CLatencyHistogram h;
    EXPECT_EQ(h.Percentile(0.99), 0u);
    for (std::uint64_t v = 1; v <= 10000; ++v)
        h.Record(v);
    EXPECT_EQ(h.Count(), 10000u);
    EXPECT_EQ(h.Max(), 10000u);
    EXPECT_EQ(h.Percentile(1.0), 10000u);
    EXPECT_NEAR(static_cast<double>(h.Percentile(0.5)), 5000.0, 5000.0 / CLatencyHistogram::kSubBuckets);
    EXPECT_NEAR(static_cast<double>(h.Percentile(0.99)), 9900.0, 9900.0 / CLatencyHistogram::kSubBuckets);
    EXPECT_NEAR(h.Mean(), 5000.5, 1e-9);
    // A percentile never reads above the maximum, even inside a wide bucket.
    CLatencyHistogram one;
    one.Record(1000001);
    EXPECT_EQ(one.Percentile(0.5), 1000001u);
}

TEST(LatencyHistogramTest, MergeAddsCountsAndKeepsMax)
{
    CLatencyHistogram a, b;
    a.Record(10);
    b.Record(20);
    b.Record(5000);
    a.Merge(b);
    EXPECT_EQ(a.Count(), 3u);
    EXPECT_EQ(a.Max(), 5000u);
    std::uint64_t total = 0;
    for (const auto& bucket : a.Buckets())
        total += bucket.count;
    EXPECT_EQ(total, 3u);
}

TEST(OrderCheckerTest, InOrderStreamsPass)
{
    COrderChecker c;
    const auto ab = COrderChecker::StreamKey(1, 2);
    const auto ba = COrderChecker::StreamKey(2, 1);
    for (std::uint64_t n = 0; n < 5; ++n) {
        EXPECT_EQ(c.Record(ab, n), COrderChecker::Verdict::kInOrder);
        EXPECT_EQ(c.Record(ba, n), COrderChecker::Verdict::kInOrder);
    }
    c.Sent(ab, 5);
    c.Sent(ba, 5);
    EXPECT_TRUE(c.ExactlyOnceInOrder());
    EXPECT_EQ(c.Received(), 10u);
}

TEST(OrderCheckerTest, FindsLossDuplicatesReorderingAndStrays)
{
    COrderChecker c;
    const auto s = COrderChecker::StreamKey(0, 1);
    c.Record(s, 0);
    c.Record(s, 2);  // 1 skipped
    EXPECT_EQ(c.Record(s, 2), COrderChecker::Verdict::kDuplicate);
    c.Sent(s, 4);    // 1 and 3 never came
    EXPECT_EQ(c.Missing(), 2u);
    EXPECT_FALSE(c.ExactlyOnceInOrder());
    EXPECT_EQ(c.Record(s, 1), COrderChecker::Verdict::kLate);
    EXPECT_EQ(c.Reordered(), 1u);
    EXPECT_EQ(c.Record(s, 1), COrderChecker::Verdict::kDuplicate);
    EXPECT_EQ(c.Duplicates(), 2u);
    EXPECT_EQ(c.Missing(), 1u);
    // A stream nobody said it sent on, and numbers beyond what was sent.
    c.Record(COrderChecker::StreamKey(7, 1), 0);
    c.Record(s, 3);
    c.Record(s, 4);
    EXPECT_EQ(c.Missing(), 0u);
    EXPECT_EQ(c.Unexpected(), 2u);
}

TEST(OrderCheckerTest, RandomLossIsCountedExactly)
{
    COrderChecker c;
    std::mt19937 random(7);
    std::uint64_t dropped = 0;
    const auto s = COrderChecker::StreamKey(3, 4);
    for (std::uint64_t n = 0; n < 10000; ++n) {
        if (random() % 10 == 0)
            ++dropped;
        else
            c.Record(s, n);
    }
    c.Sent(s, 10000);
    EXPECT_EQ(c.Missing(), dropped);
    EXPECT_EQ(c.Duplicates(), 0u);
}

TEST(ThroughputSeriesTest, CountsPerSliceAndRates)
{
    using namespace std::chrono;
    CThroughputSeries series(milliseconds(100));
    const auto t0 = steady_clock::now();
    series.Start(t0);
    series.Add(t0);
    series.Add(t0 + milliseconds(50), 2);
    series.Add(t0 + milliseconds(250));
    series.Add(t0 - milliseconds(5));  // before the start: first slice
    ASSERT_EQ(series.Counts().size(), 3u);
    EXPECT_EQ(series.Counts()[0], 4u);
    EXPECT_EQ(series.Counts()[1], 0u);
    EXPECT_EQ(series.Counts()[2], 1u);
    EXPECT_DOUBLE_EQ(series.Rates()[0], 40.0);
}

TEST(PacerTest, DueCountFollowsRateAndTime)
{
    using namespace std::chrono;
    EXPECT_EQ(CPacer::DueAt(5000, milliseconds(0)), 0u);
    EXPECT_EQ(CPacer::DueAt(5000, milliseconds(1)), 5u);
    EXPECT_EQ(CPacer::DueAt(5000, seconds(2)), 10000u);
    EXPECT_EQ(CPacer::DueAt(50, milliseconds(10)), 0u);
}
