// A long driver call with a live progress line: the call runs on a worker thread while the
// calling thread redraws one line with the elapsed time on standard error.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// Runs work and returns its result. When show is set, "em1: " what and the elapsed seconds
// stay on one line of standard error until the work ends, and the line is then erased.
std::int32_t RunWithProgress(const std::string &what, bool show,
                             const std::function<std::int32_t()> &work);
