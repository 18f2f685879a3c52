// How far past its read timeout a read on a silent line returns: the driver's serial layer
// reading one byte from a pseudo-terminal that nobody writes to.
#pragma once

#include <vector>

namespace bench {

struct TimeoutSamples {
    int timeout_ms;
    std::vector<double> overshoot_ms; // time the read took, less the timeout
};

// Throws std::runtime_error when the line cannot be opened or a read does not time out.
std::vector<TimeoutSamples> time_silent_reads(const std::vector<int> &timeouts_ms,
                                              const std::vector<int> &samples);

} // namespace bench
