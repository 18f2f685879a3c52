// block and alerts: a whole class of values with one request.
#include "alerts_message.h"
#include "block_read.h"
#include "cell.h"
#include "clock_text.h"
#include "commands.h"
#include "number_text.h"
#include "vocabulary.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

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
    Instance instance(context.driver, *context.trace, context.echo);
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
        throw Failure(failure->kind, failure->message);
    }
    round.results = BlockResults(instance, block, items, std::nullopt);
    if (context.line.format != OutputFormat::kTable) {
        MakeRoundWriter(stdout, context.line.format, items, true, context.line.csvHeader)
            ->Write(round);
    } else if (block.Alerts()) {
        PrintAlertBlock(block);
    } else {
        PrintLineBlock(items, round);
    }
    TellProblems(round);
    return ExitStatusOf(FirstProblem(round));
}

ExitStatus RunAlerts(Context &context) {
    Instance instance(context.driver, *context.trace, context.echo);
    Block block = DefineAlertBlock(context.driver, instance.State());
    StartInstance(instance, StartOptionsOf(context));
    if (const auto failure = ReadBlock(instance, block)) {
        throw Failure(failure->kind, failure->message);
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
