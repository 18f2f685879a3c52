// Tabulated values: for some parameters the instrument takes one of a fixed set of tokens
// ("0.5", "45.0", "OFF", "AUTO") in place of a free number.
#pragma once

#include <cstddef>
#include <span>

// Room for the longest token, "CASCADE", and its NUL.
inline constexpr std::size_t kTokenCapacity = 8;

// Writes the token for val, a value already in instrument units, for the parameter letter
// in the low 8 bits of parameterLetter:
//   C, D, I, P, "[", "]": a 25-step table from "0.1" to "500";
//   F, "^": an 18-step table from "1" to "200";
//   G: a 7-step table from "0.125" to "8.0";
//   M: the mode at the index val truncated toward zero, for val up to 6;
//   X: the status at that index, for val up to 10.
// The step tables give "OFF" for every value below 0.0001 and otherwise the step whose
// number, in single precision, equals val exactly. Returns EM_OK when a token was written, or
// when the letter is none of these (nothing is written); EM_REFUSED when val has no token, leaving
// destination untouched. Logs each call, and each refusal, at the detail level.
int setTabularVal(int parameterLetter, float val, std::span<char, kTokenCapacity> destination);
