// How far past its read timeout a read on a silent line returns: the driver's serial layer
// reading one byte from a pseudo-terminal that nobody writes to.
#pragma once

#include <vector>

namespace bench {

struct TimeoutSamples {
    int timeoutMs;
    std::vector<double> overshootMs; // time the read took, less the timeout
};

// Throws std::runtime_error when the line cannot be opened or a read does not time out.
std::vector<TimeoutSamples> TimeSilentReads(const std::vector<int> &timeoutsMs,
                                            const std::vector<int> &samples);

} // namespace bench
