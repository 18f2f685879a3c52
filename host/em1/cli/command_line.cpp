#include "command_line.h"

#include "exit_status.h"
#include "number_text.h"
#include "port_name.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <string_view>

namespace {

struct Word {
    std::string_view text;
    std::uint16_t code;
};

constexpr std::array<Word, 10> kParities = {{
    {"none", 0},
    {"odd", 1},
    {"even", 2},
    {"mark", 3},
    {"space", 4},
    {"n", 0},
    {"o", 1},
    {"e", 2},
    {"m", 3},
    {"s", 4},
}};
constexpr std::array<Word, 3> kStopBits = {{{"1", 0}, {"1.5", 1}, {"2", 2}}};
constexpr std::array<Word, 3> kDtrLines = {{
    {"off", 0},
    {"on", EM_OPEN_DTR_ON},
    {"handshake", EM_OPEN_DTR_HANDSHAKE},
}};
constexpr std::array<Word, 4> kRtsLines = {{
    {"off", 0},
    {"on", EM_OPEN_RTS_ON},
    {"handshake", EM_OPEN_RTS_HANDSHAKE},
    {"toggle", EM_OPEN_RTS_TOGGLE},
}};
constexpr std::array<Word, 3> kFormats = {{{"table", 0}, {"csv", 1}, {"json", 2}}};

std::string Quoted(std::string_view text) {
    return "'" + std::string(text) + "'";
}

template <std::size_t N>
std::uint16_t PickWord(std::string_view option, std::string_view value,
                       const std::array<Word, N> &words, std::string_view allowed) {
    const auto found = std::find_if(words.begin(), words.end(),
                                    [&](const Word &word) { return word.text == value; });
    if (found == words.end()) {
        throw UsageError(std::string(option) + ": " + Quoted(value) + " is not one of " +
                         std::string(allowed));
    }
    return found->code;
}

long long BoundedInteger(std::string_view option, std::string_view value, long long low,
                         long long high) {
    const std::string range =
        " (allowed: " + std::to_string(low) + " to " + std::to_string(high) + ")";
    const auto number = ParseInteger(value);
    if (!number) {
        throw UsageError(std::string(option) + ": " + Quoted(value) + " is not a whole number" +
                         range);
    }
    if (*number < low || *number > high) {
        throw UsageError(std::string(option) + ": " + std::string(value) + " is out of range" +
                         range);
    }
    return *number;
}

double BoundedDecimal(std::string_view option, std::string_view value, double low, double high) {
    const std::string range = " (allowed: " + FormatNumber(low) + " to " + FormatNumber(high) + ")";
    const auto number = ParseDecimal(value);
    if (!number) {
        throw UsageError(std::string(option) + ": " + Quoted(value) + " is not a number" + range);
    }
    if (*number < low || *number > high) {
        throw UsageError(std::string(option) + ": " + std::string(value) + " is out of range" +
                         range);
    }
    return *number;
}

std::string NonEmpty(std::string_view option, std::string_view value) {
    if (value.empty()) {
        throw UsageError(std::string(option) + ": needs a non-empty value");
    }
    return std::string(value);
}

using Apply = void (*)(CommandLine &, std::string_view option, std::string_view value);

struct OptionDefinition {
    std::string_view longName;
    char shortName;
    bool takesValue;
    Apply apply;
};

constexpr std::uint16_t kLowestBaud = 50;
// The port when --port is not given.
constexpr const char *kPortVariable = "EM1_PORT";

const std::array<OptionDefinition, 19> kOptions = {{
    {"--port", 'p', true,
     [](CommandLine &c, std::string_view o, std::string_view v) {
         c.port.name = FitPortName(o, v);
         c.port.given = v;
     }},
    {"--baud", 'b', true,
     [](CommandLine &c, std::string_view o, std::string_view v) {
         c.port.baudRate = static_cast<std::uint16_t>(BoundedInteger(o, v, kLowestBaud, 65535));
     }},
    {"--data-bits", '\0', true,
     [](CommandLine &c, std::string_view o, std::string_view v) {
         c.port.dataBits = static_cast<std::uint16_t>(BoundedInteger(o, v, 5, 8));
     }},
    {"--parity", '\0', true,
     [](CommandLine &c, std::string_view o, std::string_view v) {
         c.port.parity = PickWord(o, v, kParities, "none, odd, even, mark, space");
     }},
    {"--stop-bits", '\0', true,
     [](CommandLine &c, std::string_view o, std::string_view v) {
         c.port.stopBits = PickWord(o, v, kStopBits, "1, 1.5, 2");
     }},
    {"--dtr", '\0', true,
     [](CommandLine &c, std::string_view o, std::string_view v) {
         c.port.dtr = PickWord(o, v, kDtrLines, "on, off, handshake");
     }},
    {"--rts", '\0', true,
     [](CommandLine &c, std::string_view o, std::string_view v) {
         c.port.rts = PickWord(o, v, kRtsLines, "on, off, handshake, toggle");
     }},
    {"--timeout", '\0', true,
     [](CommandLine &c, std::string_view o, std::string_view v) {
         // Milliseconds on the command line, units of 10 ms in the driver's records.
         c.port.replyTimeout =
             static_cast<std::int32_t>((BoundedInteger(o, v, 1000, 60000) + 9) / 10);
     }},
    {"--driver", '\0', true,
     [](CommandLine &c, std::string_view o, std::string_view v) { c.driverPath = NonEmpty(o, v); }},
    {"--no-start", '\0', false,
     [](CommandLine &c, std::string_view, std::string_view) { c.noStart = true; }},
    {"--trace", '\0', true,
     [](CommandLine &c, std::string_view o, std::string_view v) { c.traceFile = NonEmpty(o, v); }},
    {"--verbose", 'v', false,
     [](CommandLine &c, std::string_view, std::string_view) { ++c.verbosity; }},
    {"--format", 'f', true,
     [](CommandLine &c, std::string_view o, std::string_view v) {
         c.format = static_cast<OutputFormat>(PickWord(o, v, kFormats, "table, csv, json"));
         c.commandOptions.emplace_back(o);
     }},
    {"--no-verify", '\0', false,
     [](CommandLine &c, std::string_view o, std::string_view) {
         c.verify = false;
         c.commandOptions.emplace_back(o);
     }},
    {"--no-header", '\0', false,
     [](CommandLine &c, std::string_view o, std::string_view) {
         c.csvHeader = false;
         c.commandOptions.emplace_back(o);
     }},
    {"--interval", 'i', true,
     [](CommandLine &c, std::string_view o, std::string_view v) {
         c.intervalSeconds = BoundedDecimal(o, v, 0, 86400);
         c.commandOptions.emplace_back(o);
     }},
    {"--count", 'c', true,
     [](CommandLine &c, std::string_view o, std::string_view v) {
         c.rounds = BoundedInteger(o, v, 1, 100000000);
         c.commandOptions.emplace_back(o);
     }},
    {"--help", 'h', false,
     [](CommandLine &c, std::string_view, std::string_view) { c.help = true; }},
    {"--version", 'V', false,
     [](CommandLine &c, std::string_view, std::string_view) { c.version = true; }},
}};

const OptionDefinition *FindLong(std::string_view name) {
    for (const auto &option : kOptions) {
        if (option.longName == name) {
            return &option;
        }
    }
    return nullptr;
}

const OptionDefinition *FindShort(char name) {
    for (const auto &option : kOptions) {
        if (option.shortName == name) {
            return &option;
        }
    }
    return nullptr;
}

void AddOperand(CommandLine &line, std::string_view argument) {
    if (line.command.empty()) {
        line.command = argument;
    } else {
        line.operands.emplace_back(argument);
    }
}

bool ReadLongOption(CommandLine &line, std::string_view argument, ArgumentReader &reader) {
    const auto equals = argument.find('=');
    const std::string_view name = argument.substr(0, equals);
    const OptionDefinition *option = FindLong(name);
    if (option == nullptr) {
        return false;
    }
    if (!option->takesValue) {
        if (equals != std::string_view::npos) {
            throw UsageError(std::string(name) + ": takes no value");
        }
        option->apply(line, name, {});
        return true;
    }
    const std::string_view value =
        equals != std::string_view::npos ? argument.substr(equals + 1) : reader.TakeValue(name);
    option->apply(line, name, value);
    return true;
}

// -v, -vv, -h, -V, and -p NAME or -pNAME. False when the first letter is none of em1's.
bool ReadShortOptions(CommandLine &line, std::string_view argument, ArgumentReader &reader) {
    if (FindShort(argument[1]) == nullptr) {
        return false;
    }
    for (std::size_t at = 1; at < argument.size(); ++at) {
        const OptionDefinition *option = FindShort(argument[at]);
        if (option == nullptr) {
            throw UsageError("unknown option " + Quoted(std::string("-") + argument[at]));
        }
        if (!option->takesValue) {
            option->apply(line, option->longName, {});
            continue;
        }
        const std::string_view value =
            at + 1 < argument.size() ? argument.substr(at + 1) : reader.TakeValue(option->longName);
        option->apply(line, option->longName, value);
        return true;
    }
    return true;
}

// The command whose arguments after its name are its own: options of its own among em1's.
constexpr std::string_view kOwnArgumentsCommand = "gateway";

} // namespace

std::string_view ArgumentReader::TakeValue(std::string_view option) {
    if (Done()) {
        throw UsageError(std::string(option) + ": needs a value");
    }
    return Take();
}

bool ReadCommonOption(CommandLine &line, std::string_view argument, ArgumentReader &reader) {
    if (argument.size() < 2 || argument[0] != '-' || argument == "--") {
        return false;
    }
    return argument[1] == '-' ? ReadLongOption(line, argument, reader)
                              : ReadShortOptions(line, argument, reader);
}

bool UsesStartupLines(const PortOptions &port) {
    return port.dtr == 0 && port.rts == EM_OPEN_RTS_ON;
}

CommandLine ParseCommandLine(std::span<char *const> arguments) {
    CommandLine line;
    ArgumentReader reader(arguments);
    bool optionsEnded = false;
    while (!reader.Done()) {
        const std::string_view argument = reader.Take();
        if (line.command == kOwnArgumentsCommand) {
            if (argument == "--help" || argument == "-h") {
                line.help = true;
            } else {
                line.operands.emplace_back(argument);
            }
        } else if (optionsEnded || argument.size() < 2 || argument[0] != '-' ||
                   ParseDecimal(argument)) {
            AddOperand(line, argument);
        } else if (argument == "--") {
            optionsEnded = true;
        } else if (!ReadCommonOption(line, argument, reader)) {
            throw UsageError(
                "unknown option " +
                Quoted(argument.substr(0, argument[1] == '-' ? argument.find('=') : 2)));
        }
    }
    if (const char *port = std::getenv(kPortVariable);
        line.port.name.empty() && port != nullptr && *port != '\0') {
        line.port.name = FitPortName(kPortVariable, port);
        line.port.given = port;
    }
    return line;
}
