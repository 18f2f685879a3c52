#include "parameters.h"

#include "vocabulary.h"

#include <algorithm>
#include <array>

namespace em1sim {
namespace {

constexpr std::array<Parameter, 24> kLoopParameters{{
    {'S', ValueKind::kNumber, false, "", "set point"},
    {'V', ValueKind::kNumber, true, "", "process value (measured, tracks S)"},
    {'%', ValueKind::kNumber, false, "50.0", "output percent"},
    {'X', ValueKind::kStatus, false, "OK", "loop status"},
    {'H', ValueKind::kNumber, false, "100.0", "high alarm limit"},
    {'L', ValueKind::kNumber, false, "0.0", "low alarm limit"},
    {'E', ValueKind::kNumber, false, "10.0", "deviation alarm band"},
    {'T', ValueKind::kNumber, false, "0.0", "ramp time"},
    {'B', ValueKind::kNumber, false, "0.0", "output bias"},
    {'(', ValueKind::kNumber, false, "0.0", "output low limit"},
    {')', ValueKind::kNumber, false, "100.0", "output high limit"},
    {'R', ValueKind::kNumber, false, "1.0", "ratio"},
    {'>', ValueKind::kNumber, false, "1000.0", "set point high limit"},
    {'<', ValueKind::kNumber, false, "-100.0", "set point low limit"},
    {'M', ValueKind::kMode, false, "AUTO", "operating mode"},
    {'C', ValueKind::kWideSteps, false, "1.0", "cycle time"},
    {'P', ValueKind::kWideSteps, false, "45.0", "proportional band"},
    {'I', ValueKind::kWideSteps, false, "10.0", "integral time"},
    {'D', ValueKind::kWideSteps, false, "2.0", "derivative time"},
    {'G', ValueKind::kGainSteps, false, "1.0", "gain"},
    {'^', ValueKind::kCountSteps, false, "10", "sample count"},
    {'F', ValueKind::kCountSteps, false, "2", "filter"},
    {'[', ValueKind::kWideSteps, false, "0.5", "lower step"},
    {']', ValueKind::kWideSteps, false, "5.0", "upper step"},
}};

constexpr std::array<Parameter, 2> kModuleParameters{{
    {'V', ValueKind::kNumber, false, "", "module value"},
    {'X', ValueKind::kStatus, false, "OK", "module status"},
}};

} // namespace

std::span<const Parameter> LoopParameters() {
    return kLoopParameters;
}
std::span<const Parameter> ModuleParameters() {
    return kModuleParameters;
}

const Parameter *FindParameter(char itemType, char letter) {
    const auto table = itemType == 'L' ? LoopParameters() : ModuleParameters();
    if (itemType != 'L' && itemType != 'M')
        return nullptr;
    const auto found = std::ranges::find(table, letter, &Parameter::letter);
    return found == table.end() ? nullptr : &*found;
}

std::span<const std::string_view> TokensOf(ValueKind kind) {
    switch (kind) {
    case ValueKind::kMode:
        return kModeTokens;
    case ValueKind::kStatus:
        return kStatusTokens;
    case ValueKind::kWideSteps:
        return kWideSteps;
    case ValueKind::kCountSteps:
        return kCountSteps;
    case ValueKind::kGainSteps:
        return kGainSteps;
    case ValueKind::kNumber:
        break;
    }
    return {};
}

bool AcceptsOff(ValueKind kind) {
    return kind == ValueKind::kWideSteps || kind == ValueKind::kCountSteps ||
           kind == ValueKind::kGainSteps;
}

std::string_view KindName(ValueKind kind) {
    switch (kind) {
    case ValueKind::kNumber:
        return "number";
    case ValueKind::kMode:
        return "mode token";
    case ValueKind::kStatus:
        return "status token (or its number 0-10)";
    case ValueKind::kWideSteps:
        return "step token 0.1 .. 500 or OFF";
    case ValueKind::kCountSteps:
        return "step token 1 .. 200 or OFF";
    case ValueKind::kGainSteps:
        return "step token 0.125 .. 8.0 or OFF";
    }
    return "";
}

} // namespace em1sim
