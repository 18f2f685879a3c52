// Runs the em1 program of this build, as a user would from a shell.
#pragma once

#include "program_run.h"

#include <string>
#include <vector>

inline ProgramRun Em1(const std::vector<std::string> &arguments,
                      const ProgramOptions &options = {}) {
    ProgramOptions quiet = options;
    // The driver's log and trace stay as each test sets them, whatever the caller's shell has.
    quiet.unset.insert(quiet.unset.end(), {"ZEL_LOG_MASK", "ZEL_LOG_FILE", "EM_TRACE"});
    return RunProgram(EM1_PROGRAM, arguments, quiet);
}

// The text's lines, without their line ends.
std::vector<std::string> LinesOf(const std::string &text);
