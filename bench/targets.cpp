#include "results.h"
#include "stats.h"

#include <algorithm>

namespace bench {
namespace {

constexpr double kMedianOverFloorMs = 1;
constexpr double kP99OverFloorMs = 3;
constexpr double kRatioToFloor = 1.01;
constexpr double kSingleReadCpuMs = 0.5;
constexpr double kBlockReadCpuMs = 2;
constexpr double kSummaryDecodeNs = 5000;
constexpr double kTimeoutOvershootMs = 5;

void add_command_targets(const CommandTimes &command, std::vector<Target> &list) {
    const Summary ours = summarise(command.ours_ms);
    const Summary floor = summarise(command.floor_ms);
    list.push_back({command.name + ": median - floor median", "ms", kMedianOverFloorMs,
                    ours.median - floor.median});
    list.push_back(
        {command.name + ": p99 - floor p99", "ms", kP99OverFloorMs, ours.p99 - floor.p99});
    list.push_back(
        {command.name + ": median / floor median", "", kRatioToFloor, ours.median / floor.median});
}

} // namespace

std::vector<Target> targets(const Results &results) {
    std::vector<Target> list;
    for (const CommandTimes &command : results.commands)
        add_command_targets(command, list);
    for (const CommandTimes &command : results.commands) {
        if (command.name == "SingleRead")
            list.push_back({"SingleRead: CPU median", "ms", kSingleReadCpuMs,
                            summarise(command.ours_cpu_ms).median});
        if (command.name == "BlockRead")
            list.push_back({"BlockRead of 591 bytes: CPU median", "ms", kBlockReadCpuMs,
                            summarise(command.ours_cpu_ms).median});
    }
    if (!results.decoding.empty())
        list.push_back({"StoreData of the 591-byte loop summary", "ns", kSummaryDecodeNs,
                        results.decoding.front().ns});
    for (const TimeoutSamples &timeout : results.timeouts)
        list.push_back({"silent read at " + std::to_string(timeout.timeout_ms) +
                            " ms: latest return past the timeout",
                        "ms", kTimeoutOvershootMs, summarise(timeout.overshoot_ms).max});
    return list;
}

} // namespace bench
