// The em1 command line: a command, its operands, and options anywhere among them.
// Every value is checked as it is read; a bad one throws UsageError naming the option
// and what it allows.
#pragma once

#include "em_driver.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

enum class OutputFormat { kTable, kCsv, kJson };

struct PortOptions {
    std::string name;  // fitted to the driver's 11 characters; empty when not given
    std::string given; // as given: a link is followed anew when the line is reopened
    // Line settings; those not given come from the driver's self-description.
    std::optional<std::uint16_t> baudRate;
    std::optional<std::uint16_t> dataBits;
    std::optional<std::uint16_t> stopBits; // the driver's code: 0 one, 1 one and a half, 2 two
    std::optional<std::uint16_t> parity;   // the driver's code: 0 none .. 4 space
    std::uint16_t dtr = 0;                 // EM_OPEN_DTR_* bits; off by default
    std::uint16_t rts = EM_OPEN_RTS_ON;    // EM_OPEN_RTS_* bits; on by default
    std::int32_t replyTimeout = 100;       // units of 10 ms
    bool operator==(const PortOptions &) const = default;
};

// The modem lines that ColdStart sets by itself: DTR off, RTS on.
bool UsesStartupLines(const PortOptions &port);

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

// The command line and the options of "gateway" after it: every argument after the command
// "gateway" is an operand, for the gateway's own reading, except --help.
CommandLine ParseCommandLine(std::span<char *const> arguments);

class ArgumentReader {
  public:
    explicit ArgumentReader(std::span<char *const> arguments) : arguments_(arguments) {}
    bool Done() const { return next_ >= arguments_.size(); }
    std::string_view Take() { return arguments_[next_++]; }
    // The next argument when there is one that is not an option: the value an option may have.
    std::optional<std::string_view> TakeOptionalValue() {
        if (Done() || arguments_[next_][0] == '-') {
            return std::nullopt;
        }
        return Take();
    }
    // The next argument as the value of option; throws UsageError when there is none.
    std::string_view TakeValue(std::string_view option);

  private:
    std::span<char *const> arguments_;
    std::size_t next_ = 0;
};

// Reads one of em1's options (--port, the line settings, --driver, --trace, -v, ...) from
// argument, its value from argument ("--baud=9600") or the reader, into line. False, with
// nothing taken, when argument names none of them.
bool ReadCommonOption(CommandLine &line, std::string_view argument, ArgumentReader &reader);
