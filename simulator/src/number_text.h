// Decimal texts of values: the form replies carry, and the strict form writes must use.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace em1sim {

// At most three decimals, trailing zeros dropped but one kept: 12.5, 26.0, 0.125, -3.0.
std::string NumberText(double value);

// Block lines are short: at most the given decimals, no trailing zeros or point: 26, 12.5.
std::string CompactNumberText(double value, int decimals);

// An optional "-", digits, and optionally "." and more digits; nothing else.
std::optional<double> ParseNumber(std::string_view text);

} // namespace em1sim
