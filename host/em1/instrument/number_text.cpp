#include "number_text.h"

#include <charconv>
#include <cmath>
#include <string>

std::optional<long long> ParseInteger(std::string_view text) {
    long long value = 0;
    const char *end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    if (text.empty() || result.ec != std::errc() || result.ptr != end) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> ParseDecimal(std::string_view text) {
    double value = 0;
    const char *end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value, std::chars_format::general);
    if (text.empty() || result.ec != std::errc() || result.ptr != end || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

namespace {
constexpr double kLargestWhole = 1e15;
}

std::string FormatNumber(double value) {
    if (value == 0) {
        return "0"; // also for -0
    }
    if (value == std::trunc(value) && std::fabs(value) < kLargestWhole) {
        return std::to_string(static_cast<long long>(value));
    }
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

std::string FormatFloat(float value) {
    if (value == 0) {
        return "0";
    }
    if (value == std::trunc(value) && std::fabs(value) < static_cast<float>(kLargestWhole)) {
        return std::to_string(static_cast<long long>(value));
    }
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}
