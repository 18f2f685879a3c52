// The value of a write as the user types it, checked against what the item accepts before
// anything is sent: numbers, mode and status names, tokens of tabulated parameters, and the
// few values the special words take.
#pragma once

#include "cell.h"
#include "item.h"

#include <string>
#include <string_view>

#include <optional>

struct WriteValue {
    Cell cell{};                  // the host's cell as SingleWrite reads it
    std::int32_t dataType = 0;    // the cell's data type
    std::string text;             // the value as given, in the instrument's terms: 42.5, AUTO, OFF
    std::optional<double> number; // a number or a tabulated value, in the instrument's units
};

// Throws Failure (BadValue) naming the value and what the item takes instead. Without a
// type from the command line, a whole number goes in a 32-bit integer cell when it fits one,
// so that no digit is lost to a float on the way to the driver's number text.
WriteValue PrepareWrite(const Item &item, std::string_view value, bool typeGiven);
