// The instrument's vocabulary as the host needs it to show and parse values: operating
// modes, status conditions, alert names and the token sets of tabulated parameters. The
// host keeps its own copy; the driver's tables are not reachable from a host.
#pragma once

#include <array>
#include <optional>
#include <span>
#include <string_view>

// Mode codes 0 to 6 (parameter letter M).
inline constexpr std::array<std::string_view, 7> kModeNames = {
    "OFF", "MANUAL", "TRIM", "AUTO", "SLAVE", "CASCADE", "ON",
};

// Status codes 0 to 10 (parameter letter X).
inline constexpr std::array<std::string_view, 11> kStatusNames = {
    "OK", "DT", "WM", "BI", "ME", "D", "L", "H", "HD", "LD", "XX",
};

// Alert flags 0 to 26, read as items A00 to A26 and as the alert block.
inline constexpr std::array<std::string_view, 27> kAlertNames = {
    "AA",
    "BB",
    "CC",
    "DD",
    "EE",
    "FF",
    "GG",
    "HH",
    "II",
    "JJ",
    "KK",
    "LL",
    "MM",
    "NN",
    "OO",
    "PP",
    "DATA TRANSFER",
    "BAD INPUT",
    "DEV ALARM",
    "HIGH ALARM",
    "LOW ALARM",
    "WRONG MODULE",
    "ROM ERROR",
    "INITNMOS ERROR",
    "EMR ERROR",
    "CHECK PARAMETER",
    "CHANGE REJECTED",
};

// The code of a token the driver could not decode.
inline constexpr int kUndecodedToken = 255;

// How a parameter letter's values travel: as plain numbers, as a mode or status code
// shown by name, or as one token of a fixed set (with OFF for the smallest values).
enum class ValueKind { Number, Mode, Status, Tabulated };

ValueKind KindOfLetter(char letter);

// The tokens a tabulated letter accepts besides OFF, in the instrument's order.
std::span<const std::string_view> TokensOfLetter(char letter);

// The name of a mode or status code, or nothing when the code has none.
std::optional<std::string_view> CodeName(ValueKind kind, int code);

// The code of a mode or status name (any case), or nothing.
std::optional<int> CodeOfName(ValueKind kind, std::string_view name);
