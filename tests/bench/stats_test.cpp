// Percentiles as the benchmark reports them: linear between the nearest ranks.
#include "stats.h"

#include <gtest/gtest.h>

#include <numeric>

namespace {

std::vector<double> OneTo(int n) {
    std::vector<double> values(static_cast<std::size_t>(n));
    std::iota(values.begin(), values.end(), 1.0);
    return values;
}

TEST(Percentile, InterpolatesBetweenTheNearestRanks) {
    struct Case {
        std::vector<double> sorted;
        double p;
        double expected;
    };
    const std::vector<Case> cases{
        {OneTo(100), 50, 50.5},
        {OneTo(100), 99, 99.01},
        {OneTo(100), 95, 95.05},
        {OneTo(4), 99, 3.97},
        {OneTo(4), 0, 1},
        {OneTo(4), 100, 4},
        {{7}, 99, 7},
        {{}, 50, 0},
        {OneTo(3), 50, 2},
        {{1, 1, 1, 1000}, 50, 1},
        {{250, 251}, 50, 250.5},
        {OneTo(4), 120, 4},
    };
    for (const Case &c : cases)
        EXPECT_NEAR(bench::Percentile(c.sorted, c.p), c.expected, 1e-9)
            << c.sorted.size() << " samples, p" << c.p;
}

TEST(Summary, SortsItsSamplesFirst) {
    const bench::Summary summary = bench::Summarise({5, 1, 4, 2, 3});
    EXPECT_EQ(summary.count, 5u);
    EXPECT_EQ(summary.min, 1);
    EXPECT_EQ(summary.median, 3);
    EXPECT_EQ(summary.max, 5);
    EXPECT_EQ(summary.mean, 3);
    EXPECT_NEAR(summary.p95, 4.8, 1e-9);
}

} // namespace
