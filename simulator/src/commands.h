// The control language: one command per line, one answer line back. Used by the control
// socket, script files, the command line and the test API.
#pragma once

#include "model.h"

#include <string>
#include <string_view>

namespace em1sim {

// The answer is a value, "ok", or "error: " and a reason.
std::string Execute(Model &model, std::string_view line);

// One line per command with what it does, for --help.
std::string CommandSummary();

} // namespace em1sim
