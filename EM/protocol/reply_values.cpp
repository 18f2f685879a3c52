#include "protocol/reply_values.h"
#include "protocol/characters.h"
#include "protocol/reply_lines.h"

#include <charconv>
#include <cstring>

namespace {

// Line numbers beyond this all compare as this one; items number at most 99.
constexpr std::uint64_t kLargestLineNumber = 1000000000000000000ULL;

// Where the run of characters that a decimal number is made of ends: the conversion reads no
// further, however long the reply.
const char *NumberRunEnd(const char *text) {
    while (IsDigit(*text) || *text == '.' || *text == '-' || *text == '+' || *text == 'e' ||
           *text == 'E') {
        ++text;
    }
    return text;
}

// A letter, digit or point right after a number means the text was no decimal number in the
// first place ("0x10", "1.2.3", "12e").
bool ContinuesNumber(char c) {
    return IsDigit(c) || c == '.' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

const char *SkipBlanks(const char *text) {
    while (*text == ' ') {
        ++text;
    }
    return text;
}

} // namespace

bool ReadReplyNumber(const char *text, double &number) {
    double read = 0;
    const auto [end, error] = std::from_chars(text, NumberRunEnd(text), read);
    if (error != std::errc{} || ContinuesNumber(*end)) {
        return false;
    }
    number = read;
    return true;
}

std::uint64_t LeadingMagnitude(const char *text) {
    while (IsBlank(*text)) {
        ++text;
    }
    if (*text == '-' || *text == '+') {
        ++text;
    }
    std::uint64_t magnitude = 0;
    for (; IsDigit(*text); ++text) {
        magnitude = magnitude < kLargestLineNumber
                        ? magnitude * 10 + static_cast<unsigned>(*text - '0')
                        : kLargestLineNumber;
    }
    return magnitude;
}

std::uint64_t ItemNumber(const char *address) {
    return address[0] == '\0' ? 0 : LeadingMagnitude(address + 1);
}

const char *FindBlockLine(const char *text, std::uint64_t number) {
    const char *line = text;
    while (LeadingMagnitude(line) != number) {
        const char *cr = std::strchr(line, '\r');
        if (cr == nullptr || cr[1] == '\0') {
            return nullptr;
        }
        line = cr + 2;
        if (static_cast<unsigned char>(*line) == kEtx || *line == '0') {
            return nullptr;
        }
    }
    return line;
}

bool NextReplyValue(const char *position, char separator, ReplyValue &value) {
    const char *found = std::strchr(position, separator);
    if (found == nullptr) {
        return false;
    }
    value.text = SkipBlanks(found + 1);
    if (IsDigit(*value.text) || *value.text == '-') {
        value.kind = ReadReplyNumber(value.text, value.number) ? ReplyValueKind::kNumber
                                                               : ReplyValueKind::kNoNumber;
        value.next = value.text;
        return true;
    }
    const char *cr = std::strchr(value.text, '\r');
    value.kind = ReplyValueKind::kToken;
    value.next = cr == nullptr ? value.text : NextLine(cr);
    return true;
}
