// What a value read from the instrument means to a person, and what a failed read means.
#pragma once

#include "cell.h"
#include "failure.h"
#include "item.h"

#include <optional>
#include <string>
#include <string_view>

struct Shown {
    double value = 0;     // instrument units: the number the line carried, else the host's
                          // value over the item's scale, or a code
    std::string text;     // as a person reads it: 42.5, AUTO, OFF, active
    bool decoded = true;  // false when the driver could not decode a mode or status token
    std::string number;   // value as the shortest text that reads back as the same value
    std::string cell;     // the host's cell the same way
    bool carried = false; // value is the number the line carried, not one taken from the cell
};

// The meaning of a value as the driver delivered it to the host. carried is the number the
// reply carried for it, when the line trace tells it: a number item shows that number, as
// long as the cell holds what the driver makes of it (so that it is the reply the cell was
// filled from); the cell is shown as it is.
Shown ShowValue(const Item &item, double hostValue, std::optional<double> carried = {});

// The meaning of a single value's cell.
Shown ShowCell(const Item &item, const Cell &cell, std::optional<double> carried = {});

struct ReadProblem {
    FailureKind kind;
    std::string message;
    // The replies to other requests that came in place of this one's and were thrown away,
    // as the line trace shows them ("L02S=202.5\r\x03"); empty when there were none.
    std::string foreign = {};
};

// A failed read in words, from the driver's result and, when the line trace tells it, the
// reply that came: one beginning with "?" is the instrument's refusal, any other did not
// decode; a read that failed for want of a reply names the replies to other requests that
// came in its place (foreign). operation is SingleRead or BlockRead.
ReadProblem DescribeReadFailure(std::string_view operation, std::string_view what,
                                std::int32_t result, bool tokenUndecoded,
                                const std::optional<std::string> &reply,
                                const std::optional<std::string> &foreign);
