// The numbers of a block reply as the line carried them. The driver keeps only the low 16
// bits of each value of a block; decoding the reply the same way tells which values the
// 16-bit cells could not hold.
#pragma once

#include <optional>
#include <string>
#include <vector>

// The values of a loop or module block reply, from the line of item number first on, at
// most count of them, each the instrument's number times scale narrowed to a float as the
// driver narrows it; a token (a status such as OK) gives nothing in its place. Empty when
// the reply holds no line of that number.
std::vector<std::optional<double>> BlockReplyValues(const std::string &reply, long long first,
                                                    double scale, std::size_t count);
