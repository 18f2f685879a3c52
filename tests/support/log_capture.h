// Captures the driver's err() lines in memory, so tests can assert them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct LogLine {
    std::int32_t level;
    std::string text;
    bool operator==(const LogLine &) const = default;
};

std::vector<LogLine> &CapturedLog();
void ClearCapturedLog();
