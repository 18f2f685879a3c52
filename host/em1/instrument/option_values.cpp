#include "option_values.h"

#include "failure.h"
#include "number_text.h"

#include <algorithm>

std::string Quoted(std::string_view text) {
    return "'" + std::string(text) + "'";
}

std::uint16_t PickWord(std::string_view option, std::string_view value,
                       std::span<const OptionWord> words, std::string_view allowed) {
    const auto found = std::find_if(words.begin(), words.end(),
                                    [&](const OptionWord &word) { return word.text == value; });
    if (found == words.end()) {
        throw UsageError(std::string(option) + ": " + Quoted(value) + " is not one of " +
                         std::string(allowed));
    }
    return found->code;
}

long long BoundedInteger(std::string_view option, std::string_view value, long long low,
                         long long high) {
    const std::string range =
        " (allowed: " + std::to_string(low) + " to " + std::to_string(high) + ")";
    const auto number = ParseInteger(value);
    if (!number) {
        throw UsageError(std::string(option) + ": " + Quoted(value) + " is not a whole number" +
                         range);
    }
    if (*number < low || *number > high) {
        throw UsageError(std::string(option) + ": " + std::string(value) + " is out of range" +
                         range);
    }
    return *number;
}

double BoundedDecimal(std::string_view option, std::string_view value, double low, double high) {
    const std::string range = " (allowed: " + FormatNumber(low) + " to " + FormatNumber(high) + ")";
    const auto number = ParseDecimal(value);
    if (!number) {
        throw UsageError(std::string(option) + ": " + Quoted(value) + " is not a number" + range);
    }
    if (*number < low || *number > high) {
        throw UsageError(std::string(option) + ": " + std::string(value) + " is out of range" +
                         range);
    }
    return *number;
}

std::string NonEmpty(std::string_view option, std::string_view value) {
    if (value.empty()) {
        throw UsageError(std::string(option) + ": needs a non-empty value");
    }
    return std::string(value);
}
