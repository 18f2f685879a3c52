// Reading defined items: one SingleRead per item, gathered into a round.
#pragma once

#include "item.h"
#include "loaded_driver.h"
#include "round.h"

#include <string>
#include <vector>

// Defines every operand as an item; a refused one throws UsageError naming it.
std::vector<Item> DefineItems(const Driver &driver, DriverState &state,
                              const std::vector<std::string> &operands, std::string_view command);

// Reads the item once with SingleRead. A loop or module value asked for in an integer cell
// is read once more as a float, so that a value the cell cannot hold (the driver keeps its
// low bits) is a problem naming the cell and the value, not a reading.
ItemResult ReadItem(Instance &instance, const Item &item);

// A problem naming the cell and the value when scaled, the instrument's value times the
// item's scale as the driver narrows it, does not fit the item's integer cell.
std::optional<ReadProblem> CellOverflow(const Item &item, double scaled);

// Reads every item once; the problems are in the results.
Round ReadRound(Instance &instance, const std::vector<Item> &items, long long number);

// The reply to the last request of the instance's last call, when the line trace has it.
std::optional<std::string> LastReply(const Instance &instance);

// The replies to other requests that the driver threw away in the instance's last call,
// when the line trace has them.
std::optional<std::string> LastForeignReplies(const Instance &instance);
