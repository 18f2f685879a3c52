// Values of options, on the command line and in the gateway's configuration, checked as they
// are read: a bad one throws UsageError naming the option and what it allows.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

struct OptionWord {
    std::string_view text;
    std::uint16_t code;
};

// The code of the word value among words; allowed lists them for the message.
std::uint16_t PickWord(std::string_view option, std::string_view value,
                       std::span<const OptionWord> words, std::string_view allowed);

// A whole number from low to high.
long long BoundedInteger(std::string_view option, std::string_view value, long long low,
                         long long high);

// A decimal number from low to high.
double BoundedDecimal(std::string_view option, std::string_view value, double low, double high);

// Any text but an empty one.
std::string NonEmpty(std::string_view option, std::string_view value);

// text in single quotes, as messages show what the user gave: 'L01Q1'.
std::string Quoted(std::string_view text);
