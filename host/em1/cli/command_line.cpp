#include "command_line.h"

#include "failure.h"
#include "number_text.h"
#include "option_values.h"
#include "port_name.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <string_view>

namespace {

class ArgumentReader {
  public:
    explicit ArgumentReader(std::span<char *const> arguments) : arguments_(arguments) {}
    bool Done() const { return next_ >= arguments_.size(); }
    std::string_view Take() { return arguments_[next_++]; }
    // The next argument as the value of option; throws UsageError when there is none.
    std::string_view TakeValue(std::string_view option) {
        if (Done()) {
            throw UsageError(std::string(option) + ": needs a value");
        }
        return Take();
    }

  private:
    std::span<char *const> arguments_;
    std::size_t next_ = 0;
};

constexpr std::array<OptionWord, 3> kFormats = {{{"table", 0}, {"csv", 1}, {"json", 2}}};

using Apply = void (*)(CommandLine &, std::string_view option, std::string_view value);

struct OptionDefinition {
    std::string_view longName;
    char shortName;
    bool takesValue;
    Apply apply;
};

void ApplyPortOption(CommandLine &line, std::string_view option, std::string_view value) {
    ReadPortOption(line.port, option, value);
}

// The port when --port is not given.
constexpr const char *kPortVariable = "EM1_PORT";

const std::array<OptionDefinition, 19> kOptions = {{
    {"--port", 'p', true, ApplyPortOption},
    {"--baud", 'b', true, ApplyPortOption},
    {"--data-bits", '\0', true, ApplyPortOption},
    {"--parity", '\0', true, ApplyPortOption},
    {"--stop-bits", '\0', true, ApplyPortOption},
    {"--dtr", '\0', true, ApplyPortOption},
    {"--rts", '\0', true, ApplyPortOption},
    {"--timeout", '\0', true, ApplyPortOption},
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

// One of em1's options, with its value from argument ("--baud=9600") or the reader, into
// line; false, with nothing taken, when argument names none of them.
bool ReadOption(CommandLine &line, std::string_view argument, ArgumentReader &reader) {
    if (argument.size() < 2 || argument[0] != '-' || argument == "--") {
        return false;
    }
    return argument[1] == '-' ? ReadLongOption(line, argument, reader)
                              : ReadShortOptions(line, argument, reader);
}

} // namespace

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
        } else if (!ReadOption(line, argument, reader)) {
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
