#include "reply_number.h"

#include "protocol/cells.h"
#include "protocol/reply_values.h"

namespace {

std::optional<double> NumberOf(const ReplyValue &value) {
    if (value.kind != ReplyValueKind::kNumber) {
        return std::nullopt;
    }
    return value.number;
}

} // namespace

std::optional<double> SingleReplyNumber(const std::string &reply) {
    ReplyValue value;
    if (!NextReplyValue(reply.c_str(), '=', value)) {
        return std::nullopt;
    }
    return NumberOf(value);
}

std::vector<std::optional<double>>
BlockReplyNumbers(const std::string &reply, const std::string &address, std::size_t count) {
    std::vector<std::optional<double>> numbers;
    const char *position = FindBlockLine(reply.c_str(), ItemNumber(address.c_str()));
    ReplyValue value;
    while (position != nullptr && numbers.size() < count && NextReplyValue(position, ',', value)) {
        numbers.push_back(NumberOf(value));
        position = value.next;
    }
    return numbers;
}

double NarrowedToFloat(double value) {
    return NarrowToFloat(value);
}
