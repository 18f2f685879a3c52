// Summaries of measured samples: median and the upper percentiles that show the tail.
#pragma once

#include <cstddef>
#include <vector>

namespace bench {

struct Summary {
    std::size_t count = 0;
    double min = 0;
    double median = 0;
    double p95 = 0;
    double p99 = 0;
    double max = 0;
    double mean = 0;
};

// The p-th percentile (0 to 100) of samples sorted in ascending order, interpolated linearly
// between the two nearest ranks (as spreadsheets and numpy do); 0 for no samples.
double Percentile(const std::vector<double> &sorted, double p);

Summary Summarise(std::vector<double> samples);

} // namespace bench
