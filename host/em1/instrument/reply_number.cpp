#include "reply_number.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// The characters a decimal number is made of; the conversion reads no further.
std::size_t NumberRunLength(std::string_view text) {
    std::size_t length = 0;
    while (length < text.size() &&
           (IsDigit(text[length]) || text[length] == '.' || text[length] == '-' ||
            text[length] == '+' || text[length] == 'e' || text[length] == 'E')) {
        ++length;
    }
    return length;
}

// Half a step above the largest float: from here on the nearest float is infinity.
constexpr double kFloatOverflow = 0x1.ffffffp127;

} // namespace

std::optional<double> NumberAt(std::string_view text) {
    double number = 0;
    const char *run = text.data();
    const auto [end, error] = std::from_chars(run, run + NumberRunLength(text), number);
    const auto used = static_cast<std::size_t>(end - run);
    if (error != std::errc{} || (used < text.size() && (IsDigit(text[used]) || text[used] == '.' ||
                                                        IsLetter(text[used])))) {
        return std::nullopt;
    }
    return number;
}

std::optional<double> SingleReplyNumber(std::string_view reply) {
    const std::size_t equals = reply.find('=');
    if (equals == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view value = reply.substr(equals + 1);
    value.remove_prefix(std::min(value.find_first_not_of(' '), value.size()));
    if (value.empty() || (!IsDigit(value.front()) && value.front() != '-')) {
        return std::nullopt;
    }
    return NumberAt(value);
}

double NarrowedToFloat(double value) {
    if (std::fabs(value) >= kFloatOverflow) {
        return std::copysign(std::numeric_limits<float>::infinity(), value);
    }
    return static_cast<float>(value);
}
