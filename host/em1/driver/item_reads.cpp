#include "item_reads.h"

#include "vocabulary.h"

#include <cstdio>

namespace {

bool TokenUndecoded(const Item &item, const Shown &shown) {
    return !shown.decoded && KindOfLetter(item.Letter()) != ValueKind::Number;
}

ItemResult ReadItem(Instance &instance, const Item &item) {
    Cell cell{};
    ItemRequest request = item.SingleRequest(cell.data());
    const std::int32_t result = instance.Call(EM_CMD_SINGLE_READ, &request);
    ItemResult read;
    read.hostValue =
        item.itemClass == EM_CLASS_SPECIAL ? CellWord(cell) : ReadCell(cell, item.dataType);
    read.shown = ShowCell(item, cell);
    if (result != 0) {
        read.problem = DescribeReadFailure("SingleRead", item.address, result,
                                           TokenUndecoded(item, read.shown));
        std::fprintf(stderr, "em1: %s\n", read.problem->message.c_str());
    }
    return read;
}

} // namespace

std::vector<Item> DefineItems(const Driver &driver, DriverState &state,
                              const std::vector<std::string> &operands, std::string_view command) {
    std::vector<Item> items;
    items.reserve(operands.size());
    for (const auto &operand : operands) {
        items.push_back(DefineOrExplain(driver, state, ParseItemArgument(operand), command));
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

ExitStatus FirstProblem(const Round &round) {
    for (const auto &result : round.results) {
        if (result.problem) {
            return result.problem->status;
        }
    }
    return ExitStatus::Ok;
}
