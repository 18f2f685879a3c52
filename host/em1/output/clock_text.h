// Time stamps of poll rounds, and durations as em1 tells them.
#pragma once

#include <chrono>
#include <string>

// UTC in ISO 8601 with milliseconds: 2024-05-01T12:00:00.123Z.
std::string UtcStamp(std::chrono::system_clock::time_point when);

// A duration in seconds, to the millisecond, in its shortest text: 2.5, 0.125, 3.
std::string SecondsText(std::chrono::steady_clock::duration duration);
