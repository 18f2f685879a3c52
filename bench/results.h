// Everything one benchmark run measured, and the targets it is judged by.
#pragma once

#include "command_timing.h"
#include "decoding.h"
#include "suite_time.h"
#include "timeout_accuracy.h"

#include <string>
#include <vector>

namespace bench {

struct Machine {
    std::string date; // UTC
    std::string cpu;
    unsigned cores = 0;
    std::string kernel;
};

struct Results {
    Machine machine;
    TimingSettings timing;
    std::vector<CommandTimes> commands;
    std::vector<double> waitingBlockCpuMs;
    std::vector<DecodeCost> decoding;
    std::vector<TimeoutSamples> timeouts;
    std::vector<SuiteTime> suites;
};

struct Target {
    std::string what;
    std::string unit;
    double limit;
    double value;
    bool Met() const { return value <= limit; }
};

Machine ThisMachine();
std::vector<Target> Targets(const Results &results);

} // namespace bench
