// The platform side of the line trace: the trace file and the wall clock.
#pragma once

#include <cstddef>
#include <cstdint>

using TraceFile = std::intptr_t;
inline constexpr TraceFile kNoTraceFile = -1;

// Opens the file that the environment variable EM_TRACE names, for appending; kNoTraceFile
// when the variable is unset or empty, or the file cannot be used. A new file is made for its
// owner only; a symbolic link is never followed, and only a regular file is written to.
TraceFile OpenTraceFile();
// Writes one whole line with one call, so lines of several ports never interleave.
void WriteTraceFile(TraceFile file, const char *text, std::size_t length);
void CloseTraceFile(TraceFile file);
// Milliseconds since 1970-01-01 UTC.
std::int64_t TraceClockMs();
