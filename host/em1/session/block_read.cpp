#include "block_read.h"

#include "address_grammar.h"
#include "cell.h"
#include "item_reads.h"
#include "line_trace.h"
#include "reply_number.h"
#include "vocabulary.h"

#include <array>

namespace {

constexpr std::array<BlockShape, 3> kShapes = {{
    {'L', "L01S0", kParameterLetters.substr(0, kIndexedLoopLetters), kMaxLoopCount},
    {'M', "M01V0", kModuleLineLetters, kMaxModuleCount},
    {'A', "A00", "", kMaxAlertCount},
}};

const BlockShape *ShapeOf(char itemClass) {
    for (const auto &shape : kShapes) {
        if (shape.itemClass == itemClass) {
            return &shape;
        }
    }
    return nullptr;
}

// The block's numbers as the reply carried them, before the driver cut them to 16 bits.
std::vector<std::optional<double>> ReplyNumbers(const Instance &instance, const Block &block) {
    const auto reply = LastReply(instance);
    if (!reply || block.Alerts()) {
        return {};
    }
    return BlockReplyNumbers(*reply, block.first.address, block.Count());
}

// The item that value i of a loop or module block belongs to, with the block's scale digit.
Item LineItem(const Block &block, std::size_t i) {
    const std::string &first = block.first.address;
    const std::size_t perLine = block.shape->lineLetters.size();
    const long long number = std::stoll(first.substr(1, 2)) + static_cast<long long>(i / perLine);
    Item item = block.first;
    item.address = std::string(1, first[0]) + (number < 10 ? "0" : "") + std::to_string(number) +
                   block.shape->lineLetters[i % perLine] + first[kScalePosition];
    return item;
}

// The item that value i of the block belongs to.
Item BlockItem(const Block &block, std::size_t i) {
    if (!block.Alerts()) {
        return LineItem(block, i);
    }
    Item item = block.first;
    item.index = block.first.index + static_cast<std::int32_t>(i);
    item.address = AlertAddress(static_cast<std::size_t>(item.index));
    return item;
}

} // namespace

Block DefineBlock(const Driver &driver, DriverState &state, const std::string &what,
                  long long count) {
    const bool classOnly = what.size() == 1;
    const BlockShape *shape = ShapeOf(ClassLetter(what));
    if (shape == nullptr) {
        throw UsageError("block: '" + what +
                         "' is neither a class (L, M or A) nor an address of one");
    }
    if (count < 2 || count > shape->longest) {
        throw UsageError("block: COUNT " + std::to_string(count) + " is out of range for class " +
                         std::string(1, shape->itemClass) + " (allowed: 2 to " +
                         std::to_string(shape->longest) + ")");
    }
    const std::string address = classOnly ? std::string(shape->firstAddress) : what;
    const std::int32_t type = shape->itemClass == 'A' ? EM_TYPE_BIT : EM_TYPE_INT16;
    return Block{DefineOrExplain(driver, state, ItemArgument{address, type}, "block"), shape,
                 std::vector<unsigned char>(static_cast<std::size_t>(count) * 2)};
}

Block DefineAlertBlock(const Driver &driver, DriverState &state) {
    return DefineBlock(driver, state, "A", kMaxAlertCount);
}

std::optional<ReadProblem> ReadBlock(Instance &instance, Block &block) {
    ItemRequest request{};
    request.address = block.first.address.c_str();
    request.itemClass = block.first.itemClass;
    request.index = block.first.index;
    request.dataType = block.first.dataType;
    request.count = static_cast<std::int32_t>(block.Count());
    request.values = block.values.data();
    const std::int32_t result = instance.Call(EM_CMD_BLOCK_READ, &request);
    if (result != EM_OK) {
        return DescribeReadFailure("BlockRead", block.first.address, result, false,
                                   LastReply(instance), LastForeignReplies(instance));
    }
    return std::nullopt;
}

std::vector<Item> BlockItems(const Block &block) {
    std::vector<Item> items;
    for (std::size_t i = 0; i < block.Count(); ++i) {
        items.push_back(BlockItem(block, i));
    }
    return items;
}

std::vector<ItemResult> BlockResults(const Instance &instance, const Block &block,
                                     const std::vector<Item> &items,
                                     const std::optional<ReadProblem> &failure) {
    const bool lineFailed = PortFailed(instance.LastLine());
    const auto numbers =
        failure ? std::vector<std::optional<double>>{} : ReplyNumbers(instance, block);
    std::vector<ItemResult> results(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        ItemResult &result = results[i];
        result.lineFailed = lineFailed;
        if (failure) {
            result.problem = failure;
            continue;
        }
        const auto carried = i < numbers.size() ? numbers[i] : std::nullopt;
        result.hostValue = BlockValue(block.values, i);
        result.shown = ShowValue(items[i], result.hostValue, carried);
        if (carried) {
            result.problem = CellOverflow(items[i], NarrowedToFloat(*carried * items[i].Scale()));
        }
    }
    return results;
}

std::vector<std::size_t> ActiveAlerts(const Block &block) {
    std::vector<std::size_t> active;
    for (std::size_t i = 0; i < block.Count(); ++i) {
        if (BlockValue(block.values, i) != 0) {
            active.push_back(static_cast<std::size_t>(block.first.index) + i);
        }
    }
    return active;
}

std::optional<std::vector<std::size_t>> ReadActiveAlerts(Instance &instance, Block &alerts) {
    if (ReadBlock(instance, alerts)) {
        return std::nullopt;
    }
    return ActiveAlerts(alerts);
}

std::string AlertAddress(std::size_t flag) {
    return (flag < 10 ? "A0" : "A") + std::to_string(flag);
}
