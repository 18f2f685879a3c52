// A whole class of values with one request (BlockRead): a block of loop or module values,
// each labelled with its item and checked against the number its line carried, or the alert
// flags. The command line's block and alerts and the gateway's alerts read blocks with this.
#pragma once

#include "item.h"
#include "loaded_driver.h"
#include "round.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// How the block of a class is laid out.
struct BlockShape {
    char itemClass;
    std::string_view firstAddress; // the address a class letter alone stands for
    std::string_view lineLetters;  // the parameter letters of each line of the reply
    long long longest;             // the most values a block of the class holds
};

struct Block {
    Item first;
    const BlockShape *shape = nullptr;
    std::vector<unsigned char> values; // count 16-bit integers
    std::size_t Count() const { return values.size() / 2; }
    bool Alerts() const { return shape->itemClass == 'A'; }
};

// The block of count values that what names: a class letter (L, M, A) or the address of its
// first item. Throws UsageError for another class, a count out of the class's range, or an
// address the driver refuses.
Block DefineBlock(const Driver &driver, DriverState &state, const std::string &what,
                  long long count);

// The block of every alert flag.
Block DefineAlertBlock(const Driver &driver, DriverState &state);

// Reads the block; the failure in words when it failed.
std::optional<ReadProblem> ReadBlock(Instance &instance, Block &block);

// The items of the block's values, in order.
std::vector<Item> BlockItems(const Block &block);

// The results of the last read of the block, a result per value, each showing the number its
// line carried. A failed read (failure) fails every value; a number the 16-bit cell cannot
// hold is a problem naming the cell and the value, not a reading.
std::vector<ItemResult> BlockResults(const Instance &instance, const Block &block,
                                     const std::vector<Item> &items,
                                     const std::optional<ReadProblem> &failure);

// The flag numbers of the active alerts of a block of alert flags.
std::vector<std::size_t> ActiveAlerts(const Block &block);

// Reads a block of every alert flag: the active ones, or nothing when the read failed.
std::optional<std::vector<std::size_t>> ReadActiveAlerts(Instance &instance, Block &alerts);

// The address of alert flag number flag: A00 to A26.
std::string AlertAddress(std::size_t flag);
