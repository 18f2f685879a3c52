#include "item_reads.h"

#include "number_text.h"
#include "reply_number.h"
#include "vocabulary.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace {

bool TokenUndecoded(const Item &item, const Shown &shown) {
    return !shown.decoded && KindOfLetter(item.Letter()) != ValueKind::kNumber;
}

struct Range {
    double lowest;
    double highest;
};

std::optional<Range> IntegerRange(std::int32_t dataType) {
    switch (dataType) {
    case EM_TYPE_INT16:
        return Range{std::numeric_limits<std::int16_t>::lowest(),
                     std::numeric_limits<std::int16_t>::max()};
    case EM_TYPE_UINT16:
    case EM_TYPE_WORD:
        return Range{0, std::numeric_limits<std::uint16_t>::max()};
    case EM_TYPE_INT32:
        return Range{std::numeric_limits<std::int32_t>::lowest(),
                     std::numeric_limits<std::int32_t>::max()};
    case EM_TYPE_UINT32:
        return Range{0, std::numeric_limits<std::uint32_t>::max()};
    default:
        return std::nullopt;
    }
}

// A number item in an integer cell: its value as a float, checked against the cell's range.
std::optional<ReadProblem> CheckFit(Instance &instance, const Item &item) {
    if (!IntegerRange(item.dataType) || KindOfLetter(item.Letter()) != ValueKind::kNumber ||
        item.itemClass == EM_CLASS_SPECIAL) {
        return std::nullopt;
    }
    Item wide = item;
    wide.dataType = EM_TYPE_FLOAT;
    Cell cell{};
    ItemRequest request = wide.SingleRequest(cell.data());
    if (const std::int32_t result = instance.Call(EM_CMD_SINGLE_READ, &request); result != EM_OK) {
        return DescribeReadFailure("SingleRead", item.address, result, false, LastReply(instance),
                                   LastForeignReplies(instance));
    }
    return CellOverflow(item, ReadCell(cell, EM_TYPE_FLOAT));
}

// The number the reply to the last single read carried, when the line trace tells it.
std::optional<double> CarriedNumber(const Instance &instance) {
    const auto reply = LastReply(instance);
    return reply ? SingleReplyNumber(*reply) : std::nullopt;
}

} // namespace

std::optional<ReadProblem> CellOverflow(const Item &item, double scaled) {
    const auto range = IntegerRange(item.dataType);
    const double hostValue = std::trunc(scaled);
    if (!range || (hostValue >= range->lowest && hostValue <= range->highest)) {
        return std::nullopt;
    }
    return ReadProblem{FailureKind::kBadValue,
                       item.address + ":" + TypeName(item.dataType) + ": the instrument's " +
                           FormatFloat(static_cast<float>(scaled / item.Scale())) + " is " +
                           FormatFloat(static_cast<float>(hostValue)) +
                           " in the cell, which does not fit " + TypeName(item.dataType) + " (" +
                           FormatNumber(range->lowest) + " to " + FormatNumber(range->highest) +
                           "); read it as " + item.address + ":float"};
}

std::optional<std::string> LastReply(const Instance &instance) {
    std::string request;
    std::string reply;
    if (!ReplyToLastRequest(instance.LastLine(), request, reply)) {
        return std::nullopt;
    }
    return reply;
}

std::optional<std::string> LastForeignReplies(const Instance &instance) {
    std::string foreign = ForeignRepliesToLastRequest(instance.LastLine());
    if (foreign.empty()) {
        return std::nullopt;
    }
    return foreign;
}

ItemResult ReadItem(Instance &instance, const Item &item) {
    Cell cell{};
    ItemRequest request = item.SingleRequest(cell.data());
    const std::int32_t result = instance.Call(EM_CMD_SINGLE_READ, &request);
    ItemResult read;
    read.hostValue =
        item.itemClass == EM_CLASS_SPECIAL ? CellWord(cell) : ReadCell(cell, item.dataType);
    read.shown = ShowCell(item, cell, CarriedNumber(instance));
    read.lineFailed = PortFailed(instance.LastLine());
    if (result != EM_OK) {
        read.problem = DescribeReadFailure("SingleRead", item.address, result,
                                           TokenUndecoded(item, read.shown), LastReply(instance),
                                           LastForeignReplies(instance));
        return read;
    }
    read.problem = CheckFit(instance, item);
    read.lineFailed = read.lineFailed || PortFailed(instance.LastLine());
    return read;
}

std::vector<Item> DefineItems(const Driver &driver, DriverState &state,
                              const std::vector<std::string> &operands, std::string_view command) {
    std::vector<Item> items;
    items.reserve(operands.size());
    for (const auto &operand : operands) {
        items.push_back(DefineOrExplain(driver, state, ParseItemArgument(operand), command));
        const Item &item = items.back();
        if (item.itemClass == EM_CLASS_ALERT && item.index >= kMaxAlertCount) {
            throw UsageError(std::string(command) + ": '" + item.address +
                             "' names no alert: the instrument has alerts A00 to A" +
                             std::to_string(kMaxAlertCount - 1));
        }
    }
    return items;
}

Round ReadRound(Instance &instance, const std::vector<Item> &items, long long number) {
    Round round;
    round.number = number;
    round.time = std::chrono::system_clock::now();
    for (const auto &item : items) {
        round.results.push_back(ReadItem(instance, item));
    }
    return round;
}
