// The commands of em1: what each takes, its help, and the function that runs it.
#pragma once

#include "command_line.h"
#include "exit_status.h"
#include "loaded_driver.h"
#include "poll_engine.h"
#include "startup.h"

#include <span>
#include <string_view>

struct Context {
    const CommandLine &line;
    const Driver &driver;
    bool showProgress = false;
    LineTrace *trace = nullptr; // what happened on the line, for commands that talk to it
    LineEcho echo;              // -vv: every line event on standard error
};

// How the instance starts for this command line, with the driver's default line settings
// where the command line gives none.
StartOptions StartOptionsOf(const Context &context);

// The rounds of a poll of the items on a started instance, as the command line asks for
// them: each item read on its own, or all of them by readRound.
ExitStatus RunRounds(Context &context, Instance &instance, const std::vector<Item> &items,
                     const StartOptions &options, RoundReader readRound);

using CommandFunction = ExitStatus (*)(Context &context);

struct CommandDefinition {
    std::string_view name;
    std::string_view synopsis; // the command and its operands
    std::string_view summary;  // one line for the list of commands
    std::string_view details;  // the rest of its help
    std::size_t fewestOperands;
    std::size_t mostOperands;
    std::string_view options; // the command options it takes, e.g. "--format"
    bool talksToInstrument;   // needs --port and starts an instance
    CommandFunction run;
};

std::span<const CommandDefinition> Commands();
// What item addresses and data types are, for the help of commands that take them.
std::string_view ItemHelp();
const CommandDefinition *FindCommand(std::string_view name);

ExitStatus RunInfo(Context &context);
ExitStatus RunCheck(Context &context);
ExitStatus RunStart(Context &context);
ExitStatus RunRead(Context &context);
ExitStatus RunPoll(Context &context);
ExitStatus RunBlock(Context &context);
ExitStatus RunAlerts(Context &context);
ExitStatus RunWrite(Context &context);
ExitStatus RunOpen(Context &context);
ExitStatus RunClose(Context &context);
ExitStatus RunReopen(Context &context);
ExitStatus RunGateway(Context &context);
