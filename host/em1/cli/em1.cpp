// em1: drives a Eurotherm EM-1 through the EM-1 driver from the command line.
#include "commands.h"
#include "driver_log.h"
#include "help.h"
#include "output_check.h"
#include "platform.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <optional>
#include <span>
#include <string>

namespace {

const CommandDefinition &ChosenCommand(const CommandLine &line) {
    if (line.command.empty()) {
        throw UsageError("no command given");
    }
    const CommandDefinition *command = FindCommand(line.command);
    if (command == nullptr) {
        throw UsageError("unknown command '" + line.command + "'");
    }
    return *command;
}

void CheckOperands(const CommandDefinition &command, const CommandLine &line) {
    const std::size_t count = line.operands.size();
    if (count < command.fewestOperands) {
        throw UsageError(std::string(command.name) + ": missing operands; usage: em1 " +
                         std::string(command.synopsis));
    }
    if (count > command.mostOperands) {
        throw UsageError(std::string(command.name) + ": unexpected argument '" +
                         line.operands[command.mostOperands] + "'; usage: em1 " +
                         std::string(command.synopsis));
    }
    if (command.talksToInstrument && line.port.name.empty()) {
        throw UsageError(std::string(command.name) +
                         ": talks to the instrument; give its port with --port");
    }
    for (const auto &option : line.commandOptions) {
        if (command.options.find(option) == std::string_view::npos) {
            throw UsageError(option + " does not apply to " + std::string(command.name));
        }
    }
}

// em1 help [COMMAND]: the help itself, not a command of the driver.
int RunHelpCommand(const CommandLine &line) {
    if (line.operands.empty()) {
        PrintHelp(stdout);
        return 0;
    }
    const CommandDefinition *command = FindCommand(line.operands.front());
    if (command == nullptr) {
        throw UsageError("help: unknown command '" + line.operands.front() + "'");
    }
    PrintCommandHelp(stdout, *command);
    return 0;
}

bool ShowsText(const CommandLine &line) {
    return line.version || line.help || line.command == "help";
}

// The version or help text that the command line asks for.
int ShowText(const CommandLine &line) {
    if (line.version) {
        PrintVersion(stdout);
        return 0;
    }
    if (line.command == "help") {
        return RunHelpCommand(line);
    }
    const CommandDefinition *command = FindCommand(line.command);
    command != nullptr ? PrintCommandHelp(stdout, *command) : PrintHelp(stdout);
    return 0;
}

int Run(const CommandLine &line) {
    const CommandDefinition &command = ChosenCommand(line);
    CheckOperands(command, line);
    RequireStandardOutput();
    // The trace is named before the driver is loaded; em1 reads back what each call did on
    // the line from it.
    std::optional<LineTrace> trace;
    if (command.talksToInstrument) {
        trace.emplace(line.traceFile);
    }
    const bool logOnStandardError = ConfigureDriverLog(line.verbosity);
    const Driver driver(line.driverPath.empty() ? DefaultDriverPath() : line.driverPath);
    // The progress line would tangle with the driver's log lines on the same terminal.
    Context context{
        line, driver, IsTerminal(stderr) && !logOnStandardError && line.verbosity < 2, nullptr, {}};
    if (trace) {
        context.trace = &*trace;
    }
    if (line.verbosity >= 2) {
        context.echo = [](const LineEvent &event) {
            std::fprintf(stderr, "em1: line %s\n", event.line.c_str());
        };
    }
    return static_cast<int>(command.run(context));
}

} // namespace

int main(int argc, char **argv) {
    // A usage error points at the help that covers it: the command's own once the command
    // line is read and names one, em1's otherwise.
    std::string help = "em1 --help";
    try {
        const CommandLine line =
            ParseCommandLine(std::span<char *const>(argv + 1, argv + std::max(argc, 1)));
        if (ShowsText(line)) {
            const int status = ShowText(line);
            FinishTextOutput(stdout);
            return status;
        }
        if (FindCommand(line.command) != nullptr) {
            help = "em1 help " + line.command;
        }
        const int status = Run(line);
        FinishOutput(stdout);
        return status;
    } catch (const UsageError &error) {
        std::fprintf(stderr, "em1: %s\nTry '%s'.\n", error.what(), help.c_str());
        return static_cast<int>(ExitStatusOf(error.Kind()));
    } catch (const Failure &failure) {
        std::fprintf(stderr, "em1: %s\n", failure.what());
        return static_cast<int>(ExitStatusOf(failure.Kind()));
    } catch (const std::exception &error) {
        std::fprintf(stderr, "em1: %s\n", error.what());
        return static_cast<int>(ExitStatus::kSoftware);
    }
}
