// Time per command: the release driver, loaded as a host loads it, against the paced
// simulator, and beside it in the same run the protocol's floor, the same exchanges done with
// bare system calls against a second simulator of the same settings. The two take turns
// command by command, so both see the same machine.
#pragma once

#include <string>
#include <vector>

namespace bench {

struct TimingSettings {
    std::string driver;    // libEM.so
    std::string simulator; // em1sim
    std::string outDir;    // the simulators' traces go here
    int commands = 100;    // of each kind, on each side
    int latencyMs = 20;    // the simulator's delay before every reply
};

struct CommandTimes {
    std::string name;   // SingleRead, BlockRead, SingleWrite, ColdStart
    std::string detail; // what the command does
    int exchanges = 0;
    std::size_t requestBytes = 0; // over all its exchanges
    std::size_t replyBytes = 0;
    double nominalMs = 0; // pauses, wire time and latency, worked out
    std::vector<double> oursMs;
    std::vector<double> floorMs;
    std::vector<double> oursCpuMs; // user + system time of the calling thread
    std::vector<double> floorCpuMs;
};

// Throws std::runtime_error when a command fails or the two sides do not exchange the same
// bytes.
std::vector<CommandTimes> TimeCommands(const TimingSettings &settings);

// CPU per BlockRead of the 591-byte summary on a line that is not paced, where every byte is
// waiting when the driver starts to read: the driver's own work without a wake-up per byte.
std::vector<double> WaitingBlockReadCpu(const TimingSettings &settings);

} // namespace bench
