// The EM-1 instrument's vocabulary: the item address grammar, the largest block of each
// item class, the mode, status and alert texts, and the tokens of tabulated parameters.
//
// Constants only, no code: the driver and any C++ host (em1) include it, and a host that does
// links nothing of the driver's.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

// ---- Item addresses ----

// Longest address text the driver reads.
inline constexpr std::size_t kAddressLimit = 32;
// An alert address is the class letter and two digits (A07); a loop or module address adds
// the parameter letter and the scale digit (L01S1, M12V0).
inline constexpr std::size_t kAlertAddressLength = 3;
inline constexpr std::size_t kValueAddressLength = 5;
inline constexpr std::size_t kParameterPosition = 3;
inline constexpr std::size_t kScalePosition = 4;

inline constexpr std::string_view kClassLetters = "ALM";
inline constexpr std::string_view kDigits = "0123456789";
inline constexpr std::string_view kParameterLetters = "SV%XHLETB()R><MCPIDG^F[]";
// The scale digit: a value is scaled by 10 to this power (times 1, 10 or 1000).
inline constexpr std::string_view kScaleDigits = "013";

// Allowed characters per position of a positional address; positions beyond have none.
inline constexpr std::array<std::string_view, 6> addressCharSets = {
    kClassLetters, kDigits, kDigits, kParameterLetters, kScaleDigits, " ",
};

// Words accepted as whole addresses, in the order they are searched; class 'G'.
inline constexpr std::array<std::string_view, 8> specialWords = {
    "XS0", "NL", "NM", "NA", "SX", "S?", "DISP", "INIT",
};

// The first parameter letters (S, V, % and X) each have an index of their own in a loop: the
// values of a loop's line in a block reply.
inline constexpr std::size_t kIndexedLoopLetters = 4;
// A module's line in a block reply holds its V and X values.
inline constexpr std::string_view kModuleLineLetters = "VX";

// Largest counts a block of each class holds: alert flags, loop values, module values.
inline constexpr std::int32_t kMaxAlertCount = 27;
inline constexpr std::int32_t kMaxLoopCount = 116;
inline constexpr std::int32_t kMaxModuleCount = 70;

// ---- Requests and replies ----

// A reply that starts with this character is the instrument's refusal of the request.
inline constexpr char kRefusalMark = '?';
// The status request, which the driver sends after a refusal to clear the instrument's error.
inline constexpr std::string_view kStatusRequest = "S?\r";

// ---- Modes and statuses ----

// The parameter letters whose values are a mode code and a status code.
inline constexpr char kModeLetter = 'M';
inline constexpr char kStatusLetter = 'X';

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

// ---- Tabulated parameters ----

// The parameters that take one token of a fixed set of steps in place of a free number, by
// the step table they take. Every step table also takes the off token, for every value
// below the off threshold.
inline constexpr std::string_view kWideStepLetters = "CDIP[]";
inline constexpr std::string_view kCountStepLetters = "F^";
inline constexpr std::string_view kGainStepLetters = "G";

inline constexpr std::array<std::string_view, 25> kWideSteps = {
    "0.1",  "0.2",  "0.3",  "0.5",  "0.7",  "1.0",  "1.4", "2.0", "3.0", "4.0", "5.0", "6.0", "8.0",
    "10.0", "15.0", "20.0", "30.0", "45.0", "60.0", "100", "150", "200", "300", "400", "500",
};
inline constexpr std::array<std::string_view, 18> kCountSteps = {
    "1",  "2",  "3",  "4",  "5",  "6",  "8",   "10",  "15",
    "20", "30", "40", "50", "60", "80", "100", "150", "200",
};
inline constexpr std::array<std::string_view, 7> kGainSteps = {
    "0.125", "0.250", "0.500", "1.0", "2.0", "4.0", "8.0",
};

inline constexpr std::string_view kOffToken = "OFF";
inline constexpr double kOffThreshold = 0.0001;

// ---- Alerts ----

// One entry per alert flag, A00 to A26. Entries 0 to 15 are codes matched against the first
// two characters of a line of the alert list; the others are texts matched anywhere in a line.
inline constexpr std::size_t kAlertCodes = 16;
inline constexpr std::array<std::string_view, kMaxAlertCount> kAlertTable = {
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
