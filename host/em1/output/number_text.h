// Strict number parsing for command-line values: the whole text must be the number.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// A decimal integer with an optional "-".
std::optional<long long> ParseInteger(std::string_view text);

// A finite decimal number such as 42, -0.5 or 1e3.
std::optional<double> ParseDecimal(std::string_view text);

// A number as a person reads it: up to six significant digits, no trailing zeros.
std::string FormatNumber(double value);
