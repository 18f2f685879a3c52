// Stepping through the lines of a reply text. The instrument ends each line with "\r" and
// one more character ("\n"), so the next line starts two characters after the "\r".
#pragma once

#include <cstdint>

// The byte that ends a reply of normal operation, and a line of a block reply that starts
// with it ends the block.
inline constexpr std::uint8_t kEtx = 3;

// Where the line after the one ended by the "\r" at cr starts: two characters on, or the
// text's terminator when the "\r" is the last character, so no step passes the end.
inline char *NextLine(char *cr) {
    return cr[1] == '\0' ? cr + 1 : cr + 2;
}
inline const char *NextLine(const char *cr) {
    return cr[1] == '\0' ? cr + 1 : cr + 2;
}
