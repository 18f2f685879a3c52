// Reply decoding: the instrument's reply to a read turned into values in the host's value
// buffer, as the item's ItemRequest describes them. Replies carry numbers, mode and status
// tokens, and alert lists.
//
// The decoders may write NUL bytes into the text they decode (after the "\r" of a token,
// at the comma that ends an "NL" or "NM" value, over the "\r" of each alert line), so a
// reply logged afterwards shows where decoding cut it. Failures are 1 and logged at the
// detail level.
#pragma once

#include "interface/em_driver.h"

#include <cstdint>

// Decodes reply by the item's class: alerts, loop and module values, or the value of a
// special word. 0 for a class it does not know, storing nothing.
int StoreData(const ItemRequest &request, char *reply);
// Decodes numbers and tokens: a single value after "=", or with a count of 2 or more the
// values after the commas of the reply line that carries the item's number. A single value
// with no "=" in the text fails.
int StoreLoopData(const ItemRequest &request, char *text);
// The code of a token that ends in "\r", blanks ignored, in the status table for the
// parameter letter X (or x) and the mode table for any other; kUnknownToken when it is in
// neither.
std::uint8_t DecodeToken(const char *token, char letter);
