// The instrument's word lists: operating modes, loop and module status conditions, and the
// fixed step values that tabulated parameters accept instead of free numbers.
#pragma once

#include <array>
#include <string_view>

namespace em1sim {

inline constexpr std::array<std::string_view, 7> kModeTokens{"OFF",   "MANUAL",  "TRIM", "AUTO",
                                                             "SLAVE", "CASCADE", "ON"};

inline constexpr std::array<std::string_view, 11> kStatusTokens{"OK", "DT", "WM", "BI", "ME", "D",
                                                                "L",  "H",  "HD", "LD", "XX"};

// Every stepped parameter may also be switched off with this token.
inline constexpr std::string_view kOffToken = "OFF";

inline constexpr std::array<std::string_view, 25> kWideSteps{
    "0.1",  "0.2",  "0.3",  "0.5",  "0.7",  "1.0",  "1.4", "2.0", "3.0", "4.0", "5.0", "6.0", "8.0",
    "10.0", "15.0", "20.0", "30.0", "45.0", "60.0", "100", "150", "200", "300", "400", "500"};

inline constexpr std::array<std::string_view, 18> kCountSteps{
    "1",  "2",  "3",  "4",  "5",  "6",  "8",   "10",  "15",
    "20", "30", "40", "50", "60", "80", "100", "150", "200"};

inline constexpr std::array<std::string_view, 7> kGainSteps{"0.125", "0.250", "0.500", "1.0",
                                                            "2.0",   "4.0",   "8.0"};

} // namespace em1sim
