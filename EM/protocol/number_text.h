// The decimal text of a number that a value write carries after its "=".
#pragma once

#include <cstddef>
#include <span>

// Room for the longest text and its NUL: a sign and 16 integer digits, or a sign, 5 integer
// digits, the point and 3 fraction digits.
inline constexpr std::size_t kNumberTextCapacity = 24;

// Writes the number text of value and its NUL. The magnitude is rounded to three decimals,
// halves away from zero; the integer part is written in full and the fraction only when it
// is not zero, cut (not rounded again) so that the text keeps at most 6 digits once the
// integer part has 3 or more: 12.5 gives "12.500", 1234.5678 "1234.56", 123456.7 "123456",
// 0.05 "0.050", -0.0001 "0".
// A magnitude of 1e15 or more, an infinity or NaN has no exact text: the result is then
// false and text is left as it was.
bool WriteNumberText(double value, std::span<char, kNumberTextCapacity> text);
