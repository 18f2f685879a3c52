// Alert lists: the reply to "SA?" turned into one flag per alert condition.
#pragma once

#include "interface/em_driver.h"
#include "interface/em_vocabulary.h"

#include <array>
#include <cstddef>
#include <cstdint>

inline constexpr std::size_t kAlertCount = kAlertTable.size();

// One byte per alert table entry: 1 when the alert is in the list.
using AlertFlags = std::array<std::uint8_t, kAlertCount>;

// Sets the flag of each line of the list after its header line, up to the line that starts
// with ETX. Each line's "\r" is overwritten with NUL. False when the reply has no "\r" at
// all; a list that ends before its ETX line keeps the flags found so far and is parsed.
bool ParseAlerts(char *reply, AlertFlags &flags);
// Stores the flags the request asks for: flag number index in the single cell, or count
// flags from number index on as a block. Numbers outside 0 to 26 read as 0. Returns
// EM_REFUSED, and stores nothing, when the list does not parse.
int StoreAlertData(const ItemRequest &request, char *reply);
