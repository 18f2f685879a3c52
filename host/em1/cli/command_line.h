// The em1 command line: a command, its operands, and options anywhere among them.
// Every value is checked as it is read; a bad one throws UsageError naming the option
// and what it allows.
#pragma once

#include "port_options.h"
#include "round_output.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

struct CommandLine {
    std::string command; // empty when none was given
    std::vector<std::string> operands;
    std::string driverPath; // empty: the library beside em1
    PortOptions port;
    bool noStart = false;
    std::string traceFile;
    int verbosity = 0;
    OutputFormat format = OutputFormat::kTable;
    double intervalSeconds = 1.0;
    std::optional<long long> rounds; // poll rounds; none: until interrupted
    bool verify = true;              // write: read the item back
    bool csvHeader = true;
    bool help = false;
    bool version = false;
    std::vector<std::string> commandOptions; // --format, --interval, --count as given
};

// The command line: every argument after the command "gateway" is an operand, for the
// gateway's own reading, except --help.
CommandLine ParseCommandLine(std::span<char *const> arguments);
