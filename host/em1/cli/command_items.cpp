// check, read and poll: items defined by the driver, and their values.
#include "address_grammar.h"
#include "commands.h"
#include "item_reads.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

namespace {

volatile std::sig_atomic_t interrupted = 0;

void OnInterrupt(int) {
    interrupted = 1;
}

void PrintDefinition(const Item &item) {
    std::printf("%-8s %-10s %5d %5d %5d  %-7s x%g\n", item.address.c_str(),
                ClassName(item.itemClass).c_str(), item.index, item.bitNumber, item.width,
                TypeName(item.dataType).c_str(), item.Scale());
}

// Waits until the next round is due, waking now and then to notice an interruption.
void WaitUntil(std::chrono::steady_clock::time_point due) {
    constexpr std::chrono::milliseconds kStep{50};
    while (interrupted == 0 && std::chrono::steady_clock::now() < due) {
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            kStep, due - std::chrono::steady_clock::now()));
    }
}

} // namespace

ExitStatus RunCheck(Context &context) {
    DriverState state{};
    ExitStatus status = ExitStatus::Ok;
    std::printf("%-8s %-10s %5s %5s %5s  %-7s %s\n", "ITEM", "CLASS", "INDEX", "BIT", "WIDTH",
                "TYPE", "SCALE");
    for (const auto &operand : context.line.operands) {
        const ItemArgument argument = ParseItemArgument(operand);
        if (const auto item = DefineItem(context.driver, state, argument)) {
            PrintDefinition(*item);
            continue;
        }
        const std::int32_t type = argument.dataType.value_or(DefaultTypeOf(argument.address));
        std::printf("%-8s refused: %s\n", argument.address.c_str(),
                    ExplainRefusal(argument.address, type).c_str());
        status = ExitStatus::Usage;
    }
    return status;
}

ExitStatus RunRead(Context &context) {
    Instance instance(context.driver);
    const auto items = DefineItems(context.driver, instance.State(), context.line.operands, "read");
    StartInstance(instance, StartOptionsOf(context));
    const auto writer = MakeRoundWriter(stdout, context.line.format, items, true);
    const Round round = ReadRound(instance, items, 1);
    writer->Write(round);
    return FirstProblem(round);
}

ExitStatus RunPoll(Context &context) {
    Instance instance(context.driver);
    const auto items = DefineItems(context.driver, instance.State(), context.line.operands, "poll");
    StartInstance(instance, StartOptionsOf(context));
    const auto writer = MakeRoundWriter(stdout, context.line.format, items, false);
    const auto period = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(context.line.intervalSeconds));
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    ExitStatus status = ExitStatus::Ok;
    auto due = std::chrono::steady_clock::now();
    for (long long number = 1;
         interrupted == 0 && (!context.line.rounds || number <= *context.line.rounds); ++number) {
        if (number > 1) {
            // A round that ran over its period is followed at once, not by a burst.
            due = std::max(due + period, std::chrono::steady_clock::now());
            WaitUntil(due);
            if (interrupted != 0) {
                break;
            }
        }
        const Round round = ReadRound(instance, items, number);
        writer->Write(round);
        if (status == ExitStatus::Ok) {
            status = FirstProblem(round);
        }
    }
    return status;
}
