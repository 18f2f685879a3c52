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

void AddCommandTargets(const CommandTimes &command, std::vector<Target> &list) {
    const Summary ours = Summarise(command.oursMs);
    const Summary floor = Summarise(command.floorMs);
    list.push_back({command.name + ": median - floor median", "ms", kMedianOverFloorMs,
                    ours.median - floor.median});
    list.push_back(
        {command.name + ": p99 - floor p99", "ms", kP99OverFloorMs, ours.p99 - floor.p99});
    list.push_back(
        {command.name + ": median / floor median", "", kRatioToFloor, ours.median / floor.median});
}

} // namespace

std::vector<Target> Targets(const Results &results) {
    std::vector<Target> list;
    for (const CommandTimes &command : results.commands)
        AddCommandTargets(command, list);
    for (const CommandTimes &command : results.commands) {
        if (command.name == "SingleRead")
            list.push_back({"SingleRead: CPU median", "ms", kSingleReadCpuMs,
                            Summarise(command.oursCpuMs).median});
        if (command.name == "BlockRead")
            list.push_back({"BlockRead of 591 bytes: CPU median", "ms", kBlockReadCpuMs,
                            Summarise(command.oursCpuMs).median});
    }
    if (!results.decoding.empty())
        list.push_back({"StoreData of the 591-byte loop summary", "ns", kSummaryDecodeNs,
                        results.decoding.front().ns});
    for (const TimeoutSamples &timeout : results.timeouts)
        list.push_back({"silent read at " + std::to_string(timeout.timeoutMs) +
                            " ms: latest return past the timeout",
                        "ms", kTimeoutOvershootMs, Summarise(timeout.overshootMs).max});
    return list;
}

} // namespace bench
