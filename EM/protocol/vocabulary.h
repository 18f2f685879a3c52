// The instrument's token vocabularies shared by reading and writing: operating modes and
// status conditions, each token's code being its position in its table.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

// Mode tokens, codes 0 to 6. In a reply each token is followed by "\r".
inline constexpr std::array<std::string_view, 7> kModeTokens = {
    "OFF", "MANUAL", "TRIM", "AUTO", "SLAVE", "CASCADE", "ON",
};

// Status tokens, codes 0 to 10.
inline constexpr std::array<std::string_view, 11> kStatusTokens = {
    "OK", "DT", "WM", "BI", "ME", "D", "L", "H", "HD", "LD", "XX",
};

// The code of a token that matches no text of its table.
inline constexpr std::uint8_t kUnknownToken = 255;

// The status table serves the parameter letter X; every other letter takes the mode table.
inline bool UsesStatusTable(char letter) {
    return letter == 'X' || letter == 'x';
}
