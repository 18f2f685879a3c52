// Strict number parsing for command-line values: the whole text must be the number.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// A decimal integer with an optional "-".
std::optional<long long> ParseInteger(std::string_view text);

// A finite decimal number such as 42, -0.5 or 1e3.
std::optional<double> ParseDecimal(std::string_view text);

// The shortest text that reads back as the same double; whole numbers below 1e15 in full
// (42500, not 4.25e+04).
std::string FormatNumber(double value);

// The shortest text that reads back as the same float: what a float cell holds.
std::string FormatFloat(float value);
