// Time stamps of poll rounds.
#pragma once

#include <chrono>
#include <string>

// UTC in ISO 8601 with milliseconds: 2024-05-01T12:00:00.123Z.
std::string UtcStamp(std::chrono::system_clock::time_point when);
