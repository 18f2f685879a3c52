// block and alerts: a whole class of values with one request.
#include "address_grammar.h"
#include "alerts_message.h"
#include "block_reply.h"
#include "clock_text.h"
#include "commands.h"
#include "item.h"
#include "item_reads.h"
#include "number_text.h"
#include "reading.h"
#include "reply_number.h"
#include "vocabulary.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
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

// Reads the block; the failure in words when it failed.
std::optional<ReadProblem> ReadBlock(Instance &instance, Block &block) {
    ItemRequest request{};
    request.address = block.first.address.c_str();
    request.itemClass = block.first.itemClass;
    request.index = block.first.index;
    request.dataType = block.first.dataType;
    request.count = static_cast<std::int32_t>(block.Count());
    request.values = block.values.data();
    const std::int32_t result = instance.Call(EM_CMD_BLOCK_READ, &request);
    if (result != 0) {
        return DescribeReadFailure("BlockRead", block.first.address, result, false,
                                   LastReply(instance), LastForeignReplies(instance));
    }
    return std::nullopt;
}

// The block's numbers as the reply carried them, before the driver cut them to 16 bits.
std::vector<std::optional<double>> ReplyNumbers(const Instance &instance, const Block &block) {
    const auto reply = LastReply(instance);
    if (!reply || block.shape->itemClass == 'A') {
        return {};
    }
    const long long first = std::strtoll(block.first.address.c_str() + 1, nullptr, 10);
    return BlockReplyValues(*reply, first, block.Count());
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

void PrintLineBlock(const std::vector<Item> &items, const Round &round) {
    std::printf("%-6s %-12s %s\n", "ITEM", "VALUE", "CELL");
    for (std::size_t i = 0; i < items.size(); ++i) {
        const ItemResult &result = round.results[i];
        std::printf("%-6s %-12s %s\n", items[i].address.c_str(),
                    result.problem ? "-" : result.shown.text.c_str(),
                    result.problem ? "-" : result.shown.cell.c_str());
    }
}

void PrintAlertBlock(const Block &block) {
    std::printf("%-4s %-16s %s\n", "ITEM", "ALERT", "STATE");
    for (std::size_t i = 0; i < block.Count(); ++i) {
        const auto flag = static_cast<std::size_t>(block.first.index) + i;
        const std::string name = flag < kAlertTable.size() ? std::string(kAlertTable[flag]) : "-";
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

// The items of the block's values, in order.
std::vector<Item> BlockItems(const Block &block) {
    std::vector<Item> items;
    for (std::size_t i = 0; i < block.Count(); ++i) {
        items.push_back(BlockItem(block, i));
    }
    return items;
}

// The results of a read of the block, a result per value, each showing the number its line
// carried. A failed read fails every value; a number the 16-bit cell cannot hold is a
// problem naming the cell and the value, not a reading.
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

// The flag numbers of the active alerts of a block of every alert.
std::vector<std::size_t> ActiveAlerts(const Block &block) {
    std::vector<std::size_t> active;
    for (std::size_t flag = 0; flag < block.Count(); ++flag) {
        if (BlockValue(block.values, flag) != 0) {
            active.push_back(flag);
        }
    }
    return active;
}

// A header row (time,item,alert), then a row per active alert; none: the header alone.
void WriteAlertsCsv(const std::vector<std::size_t> &active, bool header) {
    if (header) {
        std::puts("time,item,alert");
    }
    const std::string time = UtcStamp(std::chrono::system_clock::now());
    for (const std::size_t flag : active) {
        std::printf("%s,%s,%s\n", time.c_str(), AlertAddress(flag).c_str(),
                    std::string(kAlertTable[flag]).c_str());
    }
}

// One object, as the gateway publishes it: {"active":[{"item":"A02","name":"CC"}, ...],
// "time":...}, the list empty when no alert is active.
void WriteAlertsJson(const std::vector<std::size_t> &active) {
    std::puts(AlertsMessage(active, std::chrono::system_clock::now()).c_str());
}

void PrintAlerts(const std::vector<std::size_t> &active) {
    for (const std::size_t flag : active) {
        std::printf("%s  %s\n", AlertAddress(flag).c_str(), std::string(kAlertTable[flag]).c_str());
    }
    if (active.empty()) {
        std::puts("no active alerts");
    }
}

bool Polled(const CommandLine &line) {
    return std::any_of(
        line.commandOptions.begin(), line.commandOptions.end(),
        [](const std::string &option) { return option == "--interval" || option == "--count"; });
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
    const std::vector<Item> items = BlockItems(block);
    const StartOptions options = StartOptionsOf(context);
    StartInstance(instance, options);
    if (Polled(context.line)) {
        return RunRounds(context, instance, items, options, [&] {
            return BlockResults(instance, block, items, ReadBlock(instance, block));
        });
    }
    Round round;
    round.number = 1;
    round.time = std::chrono::system_clock::now();
    if (const auto failure = ReadBlock(instance, block)) {
        throw Failure(failure->status, failure->message);
    }
    round.results = BlockResults(instance, block, items, std::nullopt);
    if (context.line.format != OutputFormat::kTable) {
        MakeRoundWriter(stdout, context.line.format, items, true, context.line.csvHeader)
            ->Write(round);
    } else if (block.shape->itemClass == 'A') {
        PrintAlertBlock(block);
    } else {
        PrintLineBlock(items, round);
    }
    TellProblems(round);
    return FirstProblem(round);
}

ExitStatus RunAlerts(Context &context) {
    Instance instance(context.driver, context.trace, context.echo);
    Block block = DefineBlock(context.driver, instance.State(), "A", kMaxAlertCount);
    StartInstance(instance, StartOptionsOf(context));
    if (const auto failure = ReadBlock(instance, block)) {
        throw Failure(failure->status, failure->message);
    }
    const auto active = ActiveAlerts(block);
    switch (context.line.format) {
    case OutputFormat::kCsv:
        WriteAlertsCsv(active, context.line.csvHeader);
        break;
    case OutputFormat::kJson:
        WriteAlertsJson(active);
        break;
    default:
        PrintAlerts(active);
        break;
    }
    return ExitStatus::kOk;
}
