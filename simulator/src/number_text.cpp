#include "number_text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace em1sim {

std::string NumberText(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.3f", value);
    std::string text = buffer;
    while (text.back() == '0' && text[text.size() - 2] != '.')
        text.pop_back();
    if (text == "-0.0")
        text = "0.0";
    return text;
}

std::string CompactNumberText(double value, int decimals) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    std::string text = buffer;
    if (text.find('.') != std::string::npos) {
        while (text.back() == '0')
            text.pop_back();
        if (text.back() == '.')
            text.pop_back();
    }
    return text == "-0" ? "0" : text;
}

std::optional<double> ParseNumber(std::string_view text) {
    const auto digitsEnd = [&](std::size_t from) {
        while (from < text.size() && text[from] >= '0' && text[from] <= '9')
            ++from;
        return from;
    };
    std::size_t position = !text.empty() && text[0] == '-' ? 1 : 0;
    const std::size_t integerEnd = digitsEnd(position);
    if (integerEnd == position)
        return std::nullopt;
    position = integerEnd;
    if (position < text.size() && text[position] == '.') {
        const std::size_t fractionEnd = digitsEnd(position + 1);
        if (fractionEnd == position + 1)
            return std::nullopt;
        position = fractionEnd;
    }
    if (position != text.size())
        return std::nullopt;
    const std::string copy(text);
    const double value = std::strtod(copy.c_str(), nullptr);
    if (!std::isfinite(value))
        return std::nullopt;
    return value;
}

} // namespace em1sim
