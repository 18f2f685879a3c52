// The em1sim program's command line.
#pragma once

#include "line_settings.h"
#include "model.h"

#include <optional>
#include <string>
#include <vector>

namespace em1sim {

struct ProgramOptions {
    ModelSettings model;
    std::optional<std::string> device;
    LineSettings line;
    std::string link;
    std::string control;
    std::optional<std::string> trace;  // "-" for standard error
    bool pace = false;                 // send at the line's speed and framing
    std::vector<std::string> commands; // from --set, --alert, --fault and --script, in order
    bool help = false;
    bool version = false;
};

// nullopt after writing the reason to standard error.
std::optional<ProgramOptions> ParseOptions(int argc, char **argv);
void PrintHelp();
void PrintVersion();

} // namespace em1sim
