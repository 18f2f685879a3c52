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
    std::string out_dir;   // the simulators' traces go here
    int commands = 100;    // of each kind, on each side
    int latency_ms = 20;   // the simulator's delay before every reply
};

struct CommandTimes {
    std::string name;   // SingleRead, BlockRead, SingleWrite, ColdStart
    std::string detail; // what the command does
    int exchanges = 0;
    std::size_t request_bytes = 0; // over all its exchanges
    std::size_t reply_bytes = 0;
    double nominal_ms = 0; // pauses, wire time and latency, worked out
    std::vector<double> ours_ms;
    std::vector<double> floor_ms;
    std::vector<double> ours_cpu_ms; // user + system time of the calling thread
    std::vector<double> floor_cpu_ms;
};

// Throws std::runtime_error when a command fails or the two sides do not exchange the same
// bytes.
std::vector<CommandTimes> time_commands(const TimingSettings &settings);

// CPU per BlockRead of the 591-byte summary on a line that is not paced, where every byte is
// waiting when the driver starts to read: the driver's own work without a wake-up per byte.
std::vector<double> waiting_block_read_cpu(const TimingSettings &settings);

} // namespace bench
