#include "parameters.h"

#include "vocabulary.h"

#include <algorithm>
#include <array>

namespace em1sim {
namespace {

constexpr std::array<Parameter, 24> kLoopParameters{{
    {'S', ValueKind::Number, false, "", "set point"},
    {'V', ValueKind::Number, true, "", "process value (measured, tracks S)"},
    {'%', ValueKind::Number, false, "50.0", "output percent"},
    {'X', ValueKind::Status, false, "OK", "loop status"},
    {'H', ValueKind::Number, false, "100.0", "high alarm limit"},
    {'L', ValueKind::Number, false, "0.0", "low alarm limit"},
    {'E', ValueKind::Number, false, "10.0", "deviation alarm band"},
    {'T', ValueKind::Number, false, "0.0", "ramp time"},
    {'B', ValueKind::Number, false, "0.0", "output bias"},
    {'(', ValueKind::Number, false, "0.0", "output low limit"},
    {')', ValueKind::Number, false, "100.0", "output high limit"},
    {'R', ValueKind::Number, false, "1.0", "ratio"},
    {'>', ValueKind::Number, false, "1000.0", "set point high limit"},
    {'<', ValueKind::Number, false, "-100.0", "set point low limit"},
    {'M', ValueKind::Mode, false, "AUTO", "operating mode"},
    {'C', ValueKind::WideSteps, false, "1.0", "cycle time"},
    {'P', ValueKind::WideSteps, false, "45.0", "proportional band"},
    {'I', ValueKind::WideSteps, false, "10.0", "integral time"},
    {'D', ValueKind::WideSteps, false, "2.0", "derivative time"},
    {'G', ValueKind::GainSteps, false, "1.0", "gain"},
    {'^', ValueKind::CountSteps, false, "10", "sample count"},
    {'F', ValueKind::CountSteps, false, "2", "filter"},
    {'[', ValueKind::WideSteps, false, "0.5", "lower step"},
    {']', ValueKind::WideSteps, false, "5.0", "upper step"},
}};

constexpr std::array<Parameter, 2> kModuleParameters{{
    {'V', ValueKind::Number, false, "", "module value"},
    {'X', ValueKind::Status, false, "OK", "module status"},
}};

} // namespace

std::span<const Parameter> loop_parameters() {
    return kLoopParameters;
}
std::span<const Parameter> module_parameters() {
    return kModuleParameters;
}

const Parameter *find_parameter(char item_type, char letter) {
    const auto table = item_type == 'L' ? loop_parameters() : module_parameters();
    if (item_type != 'L' && item_type != 'M')
        return nullptr;
    const auto found = std::ranges::find(table, letter, &Parameter::letter);
    return found == table.end() ? nullptr : &*found;
}

std::span<const std::string_view> tokens_of(ValueKind kind) {
    switch (kind) {
    case ValueKind::Mode:
        return kModeTokens;
    case ValueKind::Status:
        return kStatusTokens;
    case ValueKind::WideSteps:
        return kWideSteps;
    case ValueKind::CountSteps:
        return kCountSteps;
    case ValueKind::GainSteps:
        return kGainSteps;
    case ValueKind::Number:
        break;
    }
    return {};
}

bool accepts_off(ValueKind kind) {
    return kind == ValueKind::WideSteps || kind == ValueKind::CountSteps ||
           kind == ValueKind::GainSteps;
}

std::string_view kind_name(ValueKind kind) {
    switch (kind) {
    case ValueKind::Number:
        return "number";
    case ValueKind::Mode:
        return "mode token";
    case ValueKind::Status:
        return "status token (or its number 0-10)";
    case ValueKind::WideSteps:
        return "step token 0.1 .. 500 or OFF";
    case ValueKind::CountSteps:
        return "step token 1 .. 200 or OFF";
    case ValueKind::GainSteps:
        return "step token 0.125 .. 8.0 or OFF";
    }
    return "";
}

} // namespace em1sim
