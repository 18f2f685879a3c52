// The unit tests on the virtual clock: the protocol time they cover against the real time
// they take. Each test program adds up its virtual time and reports it at exit when
// EM_VIRTUAL_TIME_FILE names a file.
#pragma once

#include <string>
#include <vector>

namespace bench {

struct SuiteTime {
    std::string name;
    double virtualS;
    double realS;
};

// Runs each program once; throws std::runtime_error when one fails or reports nothing.
std::vector<SuiteTime> TimeSuites(const std::vector<std::string> &programs,
                                  const std::string &scratchDir);

} // namespace bench
