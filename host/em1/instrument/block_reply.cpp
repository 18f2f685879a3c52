#include "block_reply.h"

#include "reply_number.h"

#include <cctype>

namespace {

constexpr char kEndOfText = '\x03';

bool IsDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// The number at the start of a line: blanks skipped, an optional sign, digits; compared by
// its absolute value.
long long LineNumber(const std::string &reply, std::size_t start) {
    std::size_t i = start;
    while (i < reply.size() && reply[i] == ' ') {
        ++i;
    }
    if (i < reply.size() && (reply[i] == '-' || reply[i] == '+')) {
        ++i;
    }
    long long number = 0;
    for (; i < reply.size() && IsDigit(reply[i]) && number < 1000000; ++i) {
        number = number * 10 + (reply[i] - '0');
    }
    return number;
}

// Where the line of number target starts, or npos.
std::size_t FindLine(const std::string &reply, long long target) {
    std::size_t start = 0;
    while (LineNumber(reply, start) != target) {
        const std::size_t cr = reply.find('\r', start);
        start = cr == std::string::npos ? std::string::npos : cr + 2;
        if (start >= reply.size() || reply[start] == kEndOfText || reply[start] == '0') {
            return std::string::npos;
        }
    }
    return start;
}

} // namespace

std::vector<std::optional<double>> BlockReplyValues(const std::string &reply, long long first,
                                                    std::size_t count) {
    std::vector<std::optional<double>> values;
    std::size_t at = FindLine(reply, first);
    while (at != std::string::npos && values.size() < count) {
        const std::size_t separator = reply.find(',', at);
        if (separator == std::string::npos) {
            break;
        }
        std::size_t value = separator + 1;
        while (value < reply.size() && reply[value] == ' ') {
            ++value;
        }
        if (value < reply.size() && (IsDigit(reply[value]) || reply[value] == '-')) {
            values.push_back(NumberAt(std::string_view(reply).substr(value)));
            at = value;
            continue;
        }
        values.emplace_back(std::nullopt);
        const std::size_t cr = reply.find('\r', value);
        at = cr == std::string::npos ? value : cr + 2;
    }
    return values;
}
