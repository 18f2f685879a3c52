// block and alerts: a whole class of values with one request.
#include "address_grammar.h"
#include "commands.h"
#include "item.h"
#include "item_reads.h"
#include "number_text.h"
#include "reading.h"
#include "vocabulary.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct BlockShape {
    char itemClass;
    std::string_view firstAddress; // the address a class letter alone stands for
    std::string_view lineLetters;  // the parameter letters of each line of the reply
    long long longest;             // the most values a block of the class holds
};

constexpr std::array<BlockShape, 3> kShapes = {{
    {'L', "L01S0", "SV%X", 116},
    {'M', "M01V0", "VX", 70},
    {'A', "A00", "", 27},
}};

const BlockShape *ShapeOf(char itemClass) {
    for (const auto &shape : kShapes) {
        if (shape.itemClass == itemClass) {
            return &shape;
        }
    }
    return nullptr;
}

struct Block {
    Item first;
    const BlockShape *shape = nullptr;
    std::vector<unsigned char> values; // count 16-bit integers
    std::size_t Count() const { return values.size() / 2; }
};

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
    Block block{DefineOrExplain(driver, state, ItemArgument{address, type}, "block"), shape,
                std::vector<unsigned char>(static_cast<std::size_t>(count) * 2)};
    return block;
}

// Reads the block; a failure is thrown with its exit status.
void ReadBlock(Instance &instance, Block &block) {
    ItemRequest request{};
    request.address = block.first.address.c_str();
    request.itemClass = block.first.itemClass;
    request.index = block.first.index;
    request.dataType = block.first.dataType;
    request.count = static_cast<std::int32_t>(block.Count());
    request.values = block.values.data();
    const std::int32_t result = instance.Call(EM_CMD_BLOCK_READ, &request);
    if (result != 0) {
        const ReadProblem problem = DescribeReadFailure("BlockRead", block.first.address, result,
                                                        false, LastReply(instance));
        throw Failure(problem.status, problem.message);
    }
}

std::string AlertAddress(std::size_t flag) {
    return (flag < 10 ? "A0" : "A") + std::to_string(flag);
}

// The item that value i of a loop or module block belongs to, with the block's scale digit.
Item LineItem(const Block &block, std::size_t i) {
    const std::string &first = block.first.address;
    const std::size_t perLine = block.shape->lineLetters.size();
    const long long number = std::stoll(first.substr(1, 2)) + static_cast<long long>(i / perLine);
    Item item = block.first;
    item.address = std::string(1, first[0]) + (number < 10 ? "0" : "") + std::to_string(number) +
                   block.shape->lineLetters[i % perLine] + first[4];
    return item;
}

void PrintLineBlock(const Block &block) {
    std::printf("%-6s %-12s %s\n", "ITEM", "VALUE", "CELL");
    for (std::size_t i = 0; i < block.Count(); ++i) {
        const Item item = LineItem(block, i);
        const std::int16_t cell = BlockValue(block.values, i);
        std::printf("%-6s %-12s %d\n", item.address.c_str(), ShowValue(item, cell).text.c_str(),
                    cell);
    }
}

void PrintAlertBlock(const Block &block) {
    std::printf("%-4s %-16s %s\n", "ITEM", "ALERT", "STATE");
    for (std::size_t i = 0; i < block.Count(); ++i) {
        const auto flag = static_cast<std::size_t>(block.first.index) + i;
        const std::string name = flag < kAlertNames.size() ? std::string(kAlertNames[flag]) : "-";
        std::printf("%-4s %-16s %s\n", AlertAddress(flag).c_str(), name.c_str(),
                    BlockValue(block.values, i) != 0 ? "active" : "clear");
    }
}

// The item that value i of the block belongs to.
Item BlockItem(const Block &block, std::size_t i) {
    if (block.shape->itemClass != 'A') {
        return LineItem(block, i);
    }
    Item item = block.first;
    item.index = block.first.index + static_cast<std::int32_t>(i);
    item.address = AlertAddress(static_cast<std::size_t>(item.index));
    return item;
}

// The block as one round of its items, for CSV and JSON.
void WriteBlockRound(const Block &block, const CommandLine &line) {
    std::vector<Item> items;
    Round round;
    round.number = 1;
    round.time = std::chrono::system_clock::now();
    for (std::size_t i = 0; i < block.Count(); ++i) {
        items.push_back(BlockItem(block, i));
        ItemResult result;
        result.hostValue = BlockValue(block.values, i);
        result.shown = ShowValue(items.back(), result.hostValue);
        round.results.push_back(result);
    }
    MakeRoundWriter(stdout, line.format, items, true, line.csvHeader)->Write(round);
}

} // namespace

ExitStatus RunBlock(Context &context) {
    const std::string &countText = context.line.operands[1];
    const auto count = ParseInteger(countText);
    if (!count) {
        throw UsageError("block: COUNT '" + countText + "' is not a whole number");
    }
    Instance instance(context.driver, context.trace, context.echo);
    Block block = DefineBlock(context.driver, instance.State(), context.line.operands[0], *count);
    StartInstance(instance, StartOptionsOf(context));
    ReadBlock(instance, block);
    if (context.line.format != OutputFormat::Table) {
        WriteBlockRound(block, context.line);
    } else if (block.shape->itemClass == 'A') {
        PrintAlertBlock(block);
    } else {
        PrintLineBlock(block);
    }
    return ExitStatus::Ok;
}

ExitStatus RunAlerts(Context &context) {
    Instance instance(context.driver, context.trace, context.echo);
    Block block = DefineBlock(context.driver, instance.State(), "A", kAlertNames.size());
    StartInstance(instance, StartOptionsOf(context));
    ReadBlock(instance, block);
    bool any = false;
    for (std::size_t flag = 0; flag < block.Count(); ++flag) {
        if (BlockValue(block.values, flag) != 0) {
            std::printf("%s  %s\n", AlertAddress(flag).c_str(),
                        std::string(kAlertNames[flag]).c_str());
            any = true;
        }
    }
    if (!any) {
        std::puts("no active alerts");
    }
    return ExitStatus::Ok;
}
