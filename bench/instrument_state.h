// The state the benchmark gives the simulator, so that its replies are the longest a driver
// takes in: a loop summary ("SL?") of exactly 591 bytes, and a full alert list.
#pragma once

#include <string>
#include <vector>

namespace bench {

struct Setting {
    std::string item;
    std::string value;
};

// Every set point at -123.4 and the outputs of the first loops negative, so that the 29 lines
// of the summary fill 590 bytes, one decimal each, and ETX makes 591.
std::vector<Setting> LongestSummarySettings();
// 27 alerts (the most the instrument keeps) of 19 characters (its longest), each naming the
// last entry of the driver's alert table, so decoding compares every line with every entry.
std::vector<std::string> LongestAlertList();

// As em1sim options (--set, --alert) and as control commands.
std::vector<std::string> AsProgramOptions(const std::vector<Setting> &settings,
                                          const std::vector<std::string> &alerts);
std::vector<std::string> AsControlCommands(const std::vector<Setting> &settings,
                                           const std::vector<std::string> &alerts);

} // namespace bench
