#include "stats.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace bench {

double Percentile(const std::vector<double> &sorted, double p) {
    if (sorted.empty())
        return 0;
    const double rank = std::clamp(p, 0.0, 100.0) / 100.0 * static_cast<double>(sorted.size() - 1);
    const auto below = static_cast<std::size_t>(std::floor(rank));
    const std::size_t above = std::min(below + 1, sorted.size() - 1);
    const double weight = rank - static_cast<double>(below);
    return sorted[below] + (sorted[above] - sorted[below]) * weight;
}

Summary Summarise(std::vector<double> samples) {
    if (samples.empty())
        return {};
    std::sort(samples.begin(), samples.end());
    const double sum = std::accumulate(samples.begin(), samples.end(), 0.0);
    return Summary{samples.size(),
                   samples.front(),
                   Percentile(samples, 50),
                   Percentile(samples, 95),
                   Percentile(samples, 99),
                   samples.back(),
                   sum / static_cast<double>(samples.size())};
}

} // namespace bench
