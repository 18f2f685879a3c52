// The parameter letters of loops and modules: what kind of value each holds, its value at
// power-up, and whether the line may change it.
#pragma once

#include <span>
#include <string_view>

namespace em1sim {

enum class ValueKind { Number, Mode, Status, WideSteps, CountSteps, GainSteps };

struct Parameter {
    char letter;
    ValueKind kind;
    bool read_only;
    std::string_view initial; // empty for numbers whose start value depends on the loop
    std::string_view role;
};

inline constexpr std::string_view kLoopLetters = "SV%XHLETB()R><MCPIDG^F[]";
inline constexpr std::string_view kModuleLetters = "VX";

std::span<const Parameter> loop_parameters();
std::span<const Parameter> module_parameters();

// nullptr when the letter is not a parameter of that item type ('L' or 'M').
const Parameter *find_parameter(char item_type, char letter);

// The tokens a kind accepts; empty for plain numbers.
std::span<const std::string_view> tokens_of(ValueKind kind);
bool accepts_off(ValueKind kind);
std::string_view kind_name(ValueKind kind);

} // namespace em1sim
