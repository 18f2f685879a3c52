// The driver's log: one err() call of the host support library per line.
#pragma once

#include <cstdint>

// Provided by the host support library (or by a test's capture). Declared here rather
// than through that library's header so that the driver binds it like any other import.
extern "C" int err(std::int32_t level, const char *format, ...);

inline constexpr std::int32_t kLogOutcome = 32; // a handler's outcome line
inline constexpr std::int32_t kLogDetail = 64;  // request and reply texts, decoding detail
