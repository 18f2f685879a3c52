// Reading defined items: one SingleRead per item, gathered into a round.
#pragma once

#include "item.h"
#include "round_output.h"

#include <string>
#include <vector>

// Defines every operand as an item; a refused one throws UsageError naming it.
std::vector<Item> DefineItems(const Driver &driver, DriverState &state,
                              const std::vector<std::string> &operands, std::string_view command);

// Reads every item once with SingleRead. Each failed read is told on standard error.
Round ReadRound(Instance &instance, const std::vector<Item> &items, long long number);

// The status of the first failed read of the round, or Ok.
ExitStatus FirstProblem(const Round &round);
