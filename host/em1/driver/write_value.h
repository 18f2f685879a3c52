// The value of a write as the user types it, checked against what the item accepts before
// anything is sent: numbers, mode and status names, tokens of tabulated parameters, and the
// few values the special words take.
#pragma once

#include "cell.h"
#include "item.h"

#include <string>
#include <string_view>

struct WriteValue {
    Cell cell{};      // the host's cell as SingleWrite reads it
    std::string text; // the value as the instrument will see it: 42.5, AUTO, OFF
};

// Throws Failure (BadValue) naming the value and what the item takes instead.
WriteValue PrepareWrite(const Item &item, std::string_view value);
