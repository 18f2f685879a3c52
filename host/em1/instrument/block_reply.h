// The numbers of a block reply as the line carried them. The driver keeps only the low 16
// bits of each value of a block; decoding the reply the same way tells which values the
// 16-bit cells could not hold, and what each value was before the cell cut it.
#pragma once

#include <optional>
#include <string>
#include <vector>

// The numbers of a loop or module block reply, from the line of item number first on, at
// most count of them, as the line carried them; a token (a status such as OK) or text that
// is no number gives nothing in its place. Empty when the reply holds no line of that number.
std::vector<std::optional<double>> BlockReplyValues(const std::string &reply, long long first,
                                                    std::size_t count);
