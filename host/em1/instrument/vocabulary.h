// The instrument's vocabulary as the host needs it to show and parse values: the kind of
// value each parameter letter takes, the tokens of tabulated letters, and the names of mode
// and status codes. The tables are the driver's vocabulary header, which holds constants
// only: em1 links nothing of the driver's.
#pragma once

#include "em_vocabulary.h"

#include <optional>
#include <span>
#include <string_view>

// How a parameter letter's values travel: as plain numbers, as a mode or status code
// shown by name, or as one token of a fixed set (with OFF for the smallest values).
enum class ValueKind { kNumber, kMode, kStatus, kTabulated };

ValueKind KindOfLetter(char letter);

// The tokens a tabulated letter accepts besides OFF, in the instrument's order.
std::span<const std::string_view> TokensOfLetter(char letter);

// The name of a mode or status code, or nothing when the code has none.
std::optional<std::string_view> CodeName(ValueKind kind, int code);

// Whether two texts are the same but for the case of their letters: AUTO and auto.
bool SameIgnoringCase(std::string_view a, std::string_view b);

// The code of a mode or status name (any case), or nothing.
std::optional<int> CodeOfName(ValueKind kind, std::string_view name);
