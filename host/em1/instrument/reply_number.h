// The numbers replies carry, read as the driver reads them, so that em1 can show the number
// the line carried rather than what a float or 16-bit cell made of it.
#pragma once

#include <optional>
#include <string_view>

// The decimal number at the start of text: an optional "-", digits with an optional point,
// an optional exponent. Nothing when the text is no such number ("0x10", "1.2.3", "12e") or
// its magnitude is beyond a double.
std::optional<double> NumberAt(std::string_view text);

// The number a single read's reply carries after its "=", blanks skipped; nothing when the
// value is a token (AUTO, OK) or no number.
std::optional<double> SingleReplyNumber(std::string_view reply);

// A double narrowed to a float's value as the driver narrows the instrument's number times
// the scale: beyond the float range, infinity.
double NarrowedToFloat(double value);
