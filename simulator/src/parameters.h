// The parameter letters of loops and modules: what kind of value each holds, its value at
// power-up, and whether the line may change it.
#pragma once

#include <span>
#include <string_view>

namespace em1sim {

enum class ValueKind { kNumber, kMode, kStatus, kWideSteps, kCountSteps, kGainSteps };

struct Parameter {
    char letter;
    ValueKind kind;
    bool readOnly;
    std::string_view initial; // empty for numbers whose start value depends on the loop
    std::string_view role;
};

inline constexpr std::string_view kLoopLetters = "SV%XHLETB()R><MCPIDG^F[]";
inline constexpr std::string_view kModuleLetters = "VX";

std::span<const Parameter> LoopParameters();
std::span<const Parameter> ModuleParameters();

// nullptr when the letter is not a parameter of that item type ('L' or 'M').
const Parameter *FindParameter(char itemType, char letter);

// The tokens a kind accepts; empty for plain numbers.
std::span<const std::string_view> TokensOf(ValueKind kind);
bool AcceptsOff(ValueKind kind);
std::string_view KindName(ValueKind kind);

} // namespace em1sim
