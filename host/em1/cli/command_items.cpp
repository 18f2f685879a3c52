// check, read and poll: items defined by the driver, and their values.
#include "address_grammar.h"
#include "clock_text.h"
#include "commands.h"
#include "item_reads.h"
#include "number_text.h"
#include "poll_engine.h"
#include "round_output.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>

namespace {

volatile std::sig_atomic_t stopSignal = 0;

void OnSignal(int signal) {
    stopSignal = signal;
}

// A process that ends on a signal exits with 128 and its number.
constexpr int kSignalBase = 128;

// The poll's rounds on standard output, its troubles on standard error (and as JSON event
// lines in JSON mode).
class PollReporter : public PollListener {
  public:
    PollReporter(RoundWriter &writer, std::string port, std::size_t itemCount)
        : writer_(writer), port_(std::move(port)), itemCount_(itemCount) {}
    void RoundDone(const Round &round) override {
        lastRound_ = round.number;
        if (round.missed) {
            std::fprintf(stderr, "em1: round %lld missed: the line on %s is down\n", round.number,
                         port_.c_str());
        } else {
            TellProblems(round);
        }
        writer_.Write(round);
    }
    void LineDown(const Round &) override {
        std::fprintf(stderr,
                     "em1: the line on %s failed (a hang-up or a vanished device); "
                     "reopening it\n",
                     port_.c_str());
        writer_.Tell(LineNews{std::chrono::system_clock::now(), "line down", port_, 0, 0});
    }
    void LineBack(std::chrono::steady_clock::duration outage, long long missed) override {
        std::fprintf(stderr, "em1: the line on %s is back after %s s; %lld round%s missed\n",
                     port_.c_str(), SecondsText(outage).c_str(), missed, missed == 1 ? "" : "s");
        writer_.Tell(LineNews{std::chrono::system_clock::now(), "line back", port_,
                              std::chrono::duration<double>(outage).count(), missed});
    }
    void RoundOverran(std::chrono::steady_clock::duration took,
                      std::chrono::steady_clock::duration interval) override {
        std::fprintf(stderr,
                     "em1: a round of %zu item%s takes %s s, longer than the interval of %s s; "
                     "rounds follow each other without a pause\n",
                     itemCount_, itemCount_ == 1 ? "" : "s", SecondsText(took).c_str(),
                     SecondsText(interval).c_str());
    }
    long long LastRound() const { return lastRound_; }

  private:
    RoundWriter &writer_;
    std::string port_;
    std::size_t itemCount_;
    long long lastRound_ = 0;
};

void PrintDefinition(const Item &item) {
    std::printf("%-8s %-10s %5d %5d %5d  %-7s x%g\n", item.address.c_str(),
                ClassName(item.itemClass).c_str(), item.index, item.bitNumber, item.width,
                TypeName(item.dataType).c_str(), item.Scale());
}

} // namespace

ExitStatus RunCheck(Context &context) {
    DriverState state{};
    ExitStatus status = ExitStatus::kOk;
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
        status = ExitStatus::kUsage;
    }
    return status;
}

ExitStatus RunRead(Context &context) {
    Instance instance(context.driver, *context.trace, context.echo);
    const auto items = DefineItems(context.driver, instance.State(), context.line.operands, "read");
    StartInstance(instance, StartOptionsOf(context));
    const auto writer =
        MakeRoundWriter(stdout, context.line.format, items, true, context.line.csvHeader);
    const Round round = ReadRound(instance, items, 1);
    TellProblems(round);
    writer->Write(round);
    return ExitStatusOf(FirstProblem(round));
}

ExitStatus RunRounds(Context &context, Instance &instance, const std::vector<Item> &items,
                     const StartOptions &options, RoundReader readRound) {
    const auto writer =
        MakeRoundWriter(stdout, context.line.format, items, false, context.line.csvHeader);
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    PollReporter reporter(
        *writer, options.port.given.empty() ? options.port.name : options.port.given, items.size());
    PollEngine engine(
        instance, items, options, [] { return stopSignal != 0; }, std::move(readRound));
    const PollPlan plan{std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                            std::chrono::duration<double>(context.line.intervalSeconds)),
                        context.line.rounds};
    const ExitStatus status = ExitStatusOf(engine.Run(plan, reporter));
    if (stopSignal != 0) {
        std::fprintf(stderr, "em1: stopped by %s after round %lld\n",
                     stopSignal == SIGINT ? "SIGINT" : "SIGTERM", reporter.LastRound());
        return static_cast<ExitStatus>(kSignalBase + stopSignal);
    }
    return status;
}

ExitStatus RunPoll(Context &context) {
    Instance instance(context.driver, *context.trace, context.echo);
    const auto items = DefineItems(context.driver, instance.State(), context.line.operands, "poll");
    const StartOptions options = StartOptionsOf(context);
    StartInstance(instance, options);
    return RunRounds(context, instance, items, options, {});
}
