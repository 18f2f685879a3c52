// The numbers replies carry, found and read by the driver's own decoding source, so that em1
// shows the number the line carried rather than what a float or 16-bit cell made of it, and
// reads a reply exactly as the driver read it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// The number a single read's reply carries after its "=", blanks skipped; nothing when the
// value is a token (AUTO, OK) or no number.
std::optional<double> SingleReplyNumber(const std::string &reply);

// The numbers of a loop or module block reply, from the line of the item that address names on,
// at most count of them, as the line carried them; a token (a status such as OK) or text that
// is no number gives nothing in its place. Empty when the reply holds no line of that item.
std::vector<std::optional<double>> BlockReplyNumbers(const std::string &reply,
                                                     const std::string &address, std::size_t count);

// A double narrowed to a float as the driver narrows the instrument's number times the scale:
// beyond the float range, infinity.
double NarrowedToFloat(double value);
