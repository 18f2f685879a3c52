// The unit tests on the virtual clock: the protocol time they cover against the real time
// they take. Each test program adds up its virtual time and reports it at exit when
// EM_VIRTUAL_TIME_FILE names a file.
#pragma once

#include <string>
#include <vector>

namespace bench {

struct SuiteTime {
    std::string name;
    double virtual_s;
    double real_s;
};

// Runs each program once; throws std::runtime_error when one fails or reports nothing.
std::vector<SuiteTime> time_suites(const std::vector<std::string> &programs,
                                   const std::string &scratch_dir);

} // namespace bench
