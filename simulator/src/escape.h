// Readable renderings of raw line bytes for the trace.
#pragma once

#include <string>
#include <string_view>

namespace em1sim {

// Printable ASCII stays as is; \r, \n, \t, \\ and \" are written as such; every other byte
// as \xHH.
std::string EscapeBytes(std::string_view bytes);

} // namespace em1sim
