#include "decoding.h"

#include "bare_line.h"
#include "instrument_state.h"

#include "em1sim/simulator.h"
#include "interface/handlers.h"
#include "protocol/decoding.h"
#include "protocol/number_text.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <map>
#include <stdexcept>

namespace bench {
namespace {

using ReplyBuffer = std::array<char, kReplyLimit + 1>;

struct Decoded {
    const char *address;
    std::int32_t itemClass;
    std::int32_t dataType;
    std::int32_t count;
    std::int32_t index;
};

// The decoders write into the reply they decode, so every pass works on a fresh copy.
void StoreData(benchmark::State &state, const std::string &reply, Decoded item) {
    std::int16_t values[32] = {};
    const ItemRequest request{item.address, {}, item.itemClass, item.index, {}, item.dataType,
                              item.count,   0,  values};
    ReplyBuffer work{};
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores): the benchmark loop
        std::memcpy(work.data(), reply.c_str(), reply.size() + 1);
        benchmark::DoNotOptimize(StoreData(request, work.data()));
        benchmark::ClobberMemory();
    }
    std::memcpy(work.data(), reply.c_str(), reply.size() + 1);
    if (StoreData(request, work.data()) != 0)
        state.SkipWithError("the reply does not decode");
}

void CopyReply(benchmark::State &state, const std::string &reply) {
    ReplyBuffer work{};
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores): the benchmark loop
        std::memcpy(work.data(), reply.c_str(), reply.size() + 1);
        benchmark::DoNotOptimize(work.data());
        benchmark::ClobberMemory();
    }
}

void DefineItem(benchmark::State &state, const char *address) {
    char text[8] = {};
    std::strncpy(text, address, sizeof text - 1);
    ItemDefinition definition{};
    definition.address = text;
    definition.dataType = EM_TYPE_FLOAT;
    definition.count = 1;
    DriverState driver{};
    const DriverCall call{&driver, EM_CMD_DEFINE_ITEM, 1, 0, &definition};
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores): the benchmark loop
        benchmark::DoNotOptimize(DefineItem(call));
        benchmark::ClobberMemory();
    }
    if (DefineItem(call) != 0)
        state.SkipWithError("DefineItem refuses the address");
}

void NumberText(benchmark::State &state, double value) {
    std::array<char, kNumberTextCapacity> text{};
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores): the benchmark loop
        benchmark::DoNotOptimize(WriteNumberText(value, text));
        benchmark::ClobberMemory();
    }
}

// Keeps every repetition's time per operation, by benchmark name.
class Collector : public benchmark::BenchmarkReporter {
  public:
    bool ReportContext(const Context &) override { return true; }
    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &run : runs)
            if (run.run_type == Run::RT_Iteration && !run.error_occurred)
                times[run.run_name.function_name].push_back(run.GetAdjustedRealTime());
    }

    std::map<std::string, std::vector<double>> times;
};

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

} // namespace

DecodeReplies FetchReplies() {
    em1sim::Options options;
    options.commands = AsControlCommands(LongestSummarySettings(), LongestAlertList());
    em1sim::Simulator simulator(options);
    BareLine line(simulator.SlavePath());
    DecodeReplies replies{line.Ask("SL?\r", kEtx), line.Ask("SA?\r", kEtx),
                          line.Ask("L01S?\r", kEtx)};
    if (replies.summary.size() != kReplyLimit || replies.alertList.empty() ||
        replies.setPoint.empty())
        throw std::runtime_error("the simulator did not give the replies to decode");
    return replies;
}

std::vector<DecodeCost> TimeDecoding(const DecodeReplies &replies, bool quick) {
    const std::vector<std::pair<std::string, std::function<void(benchmark::State &)>>> cases{
        {"StoreData, 591-byte loop summary, L29S0 x4",
         [&](benchmark::State &s) {
             StoreData(s, replies.summary, {"L29S0", EM_CLASS_LOOP, EM_TYPE_INT16, 4, 0});
         }},
        {"StoreData, alert list of 27, A00 x27",
         [&](benchmark::State &s) {
             StoreData(s, replies.alertList, {"A00", EM_CLASS_ALERT, EM_TYPE_BIT, 27, 0});
         }},
        {"StoreData, one value, L01S1 float",
         [&](benchmark::State &s) {
             StoreData(s, replies.setPoint, {"L01S1", EM_CLASS_LOOP, EM_TYPE_FLOAT, 1, 0});
         }},
        {"copy of a 591-byte reply (inside each StoreData above)",
         [&](benchmark::State &s) { CopyReply(s, replies.summary); }},
        {"DefineItem L01S1", [](benchmark::State &s) { DefineItem(s, "L01S1"); }},
        {"number text of 12.5", [](benchmark::State &s) { NumberText(s, 12.5); }},
        {"number text of 1234.5678", [](benchmark::State &s) { NumberText(s, 1234.5678); }},
    };
    for (const auto &[name, run] : cases)
        benchmark::RegisterBenchmark(name.c_str(), run)
            ->Unit(benchmark::kNanosecond)
            ->MinTime(quick ? 0.01 : 0.5)
            ->Repetitions(quick ? 1 : 5);
    Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    benchmark::ClearRegisteredBenchmarks();

    std::vector<DecodeCost> costs;
    for (const auto &[name, run] : cases) {
        const auto found = collector.times.find(name);
        if (found == collector.times.end())
            throw std::runtime_error("no result for " + name);
        costs.push_back(DecodeCost{name, Median(found->second)});
    }
    return costs;
}

} // namespace bench
