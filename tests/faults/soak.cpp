// The soak: a host polls 30 items against the simulator for a while, with 1 % of the replies
// to its reads spoiled at random (every kind of fault, hang-ups included). Usage:
// soak [SECONDS] (600 by default).
//
// It checks that the driver
//   - reports every injected fault: each read whose request the simulator spoiled returns
//     a non-zero result, and no read fails without a fault;
//   - never delivers a wrong value: every successful read gives the value the item had at
//     the start (nothing moves: drift is off and nothing is written);
//   - recovers: every item that failed is read again once its fault has cleared, and a last
//     round without faults reads every item;
//   - leaks no descriptor: the process has as many open after the run as before, and the
//     same number at the start of every round.
// After a hang-up the host waits for the line and brings the port back with ReopenPort and
// WarmStart. The program prints its figures and exits with 1 when a check fails.
#include "hostlog.h"
#include "instance.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using namespace faults;

constexpr std::int32_t kReplyTimeout = 20; // units of 10 ms
constexpr std::uint32_t kSeed = 11;
// The requests of the poll, each spoiled with 1 % chance by a kind chosen at random; a
// hang-up keeps the line down for the delay, and a foreign fault sends the reply of an item
// the poll never reads first, its own only after the delay, beyond the reply timeout.
constexpr const char *kFaultPatterns[] = {"L*", "M*", "SL?", "SM?", "SA?", "XC", "SS"};
constexpr const char *kFaultOptions = " random rate=0.01 delay=800 to=L09S?";

struct PolledItem {
    Item item;
    std::int32_t command;
    std::size_t valueCount; // 16-bit words compared: bytes 2-3 of a cell, or a block's slots
    std::vector<std::int16_t> expected;
    bool failing = false;

    std::vector<std::int16_t> Values() const {
        if (item.count <= 1) {
            return {item.Word()};
        }
        return {item.values.begin(), item.values.begin() + static_cast<long>(valueCount)};
    }
};

std::vector<PolledItem> PollList() {
    std::vector<PolledItem> items;
    const auto single = [&](const std::string &address, std::int32_t itemClass) {
        items.push_back({Item16(address, itemClass), EM_CMD_SINGLE_READ, 1, {}});
    };
    for (const char *letter : {"S", "V"}) {
        for (int loop = 1; loop <= 6; ++loop) {
            single("L0" + std::to_string(loop) + letter + "0", EM_CLASS_LOOP);
        }
    }
    for (int loop = 1; loop <= 4; ++loop) {
        single("L0" + std::to_string(loop) + "M0", EM_CLASS_LOOP);
    }
    single("L01X0", EM_CLASS_LOOP);
    single("L02X0", EM_CLASS_LOOP);
    for (int module = 1; module <= 4; ++module) {
        single("M0" + std::to_string(module) + "V0", EM_CLASS_MODULE);
    }
    single("M01X0", EM_CLASS_MODULE);
    single("M02X0", EM_CLASS_MODULE);
    items.push_back({Item{"L03S0", EM_CLASS_LOOP, 12, EM_TYPE_INT16, 4}, EM_CMD_BLOCK_READ, 4, {}});
    items.push_back(
        {Item{"M02V0", EM_CLASS_MODULE, 4, EM_TYPE_INT16, 2}, EM_CMD_BLOCK_READ, 2, {}});
    items.push_back({Item{"A00", EM_CLASS_ALERT, 0, EM_TYPE_BIT, 27}, EM_CMD_BLOCK_READ, 27, {}});
    single("NL", EM_CLASS_SPECIAL);
    single("NM", EM_CLASS_SPECIAL);
    single("NA", EM_CLASS_SPECIAL);
    return items;
}

struct Figures {
    std::size_t rounds = 0;
    std::size_t reads = 0;
    std::size_t injected = 0;
    std::size_t reported = 0;
    std::size_t unreported = 0;
    std::size_t failedWithoutFault = 0;
    std::size_t wrongValues = 0;
    std::size_t recoveries = 0;
    std::size_t reconnects = 0;
    std::size_t descriptorChanges = 0;
    std::map<std::string, std::size_t> kinds;
};

// The kinds of the faults the simulator fired since the trace held seen entries.
std::vector<std::string> NewFaults(const em1sim::Simulator &simulator, std::size_t &seen) {
    std::vector<std::string> kinds;
    const auto entries = simulator.TraceEntries();
    for (std::size_t i = seen; i < entries.size(); ++i) {
        const std::string &text = entries[i].text;
        if (entries[i].kind == em1sim::TraceEntry::Kind::kEvent && text.starts_with("fault ")) {
            kinds.push_back(text.substr(6, text.find(' ', 6) - 6));
        }
    }
    seen = entries.size();
    return kinds;
}

// One read of the poll, judged against the faults the simulator fired for it.
void PollOne(Instance &instance, PolledItem &polled, std::size_t &seen, Figures &figures) {
    const std::int32_t code = instance.Read(polled.item, polled.command);
    ++figures.reads;
    const std::vector<std::string> faults = NewFaults(instance.Simulator(), seen);
    figures.injected += faults.size();
    for (const std::string &kind : faults) {
        ++figures.kinds[kind];
    }
    if (!faults.empty()) {
        (code != 0 ? figures.reported : figures.unreported) += faults.size();
    } else if (code != 0) {
        ++figures.failedWithoutFault;
        std::printf("%s failed with %d without a fault\n", polled.item.address.c_str(), code);
    }
    if (code == 0 && polled.Values() != polled.expected) {
        ++figures.wrongValues;
        std::printf("%s read a wrong value\n", polled.item.address.c_str());
    }
    if (code == 0 && polled.failing) {
        ++figures.recoveries;
    }
    polled.failing = code != 0;
    if (std::find(faults.begin(), faults.end(), "hangup") != faults.end()) {
        ++figures.reconnects;
        if (!instance.Reconnect()) {
            std::printf("the port did not come back after a hang-up\n");
        }
        NewFaults(instance.Simulator(), seen);
    }
}

bool ReadAll(Instance &instance, std::vector<PolledItem> &items, bool keepValues) {
    bool all = true;
    for (PolledItem &polled : items) {
        const bool read = instance.Read(polled.item, polled.command) == 0;
        all = all && read && (keepValues || polled.Values() == polled.expected);
        if (keepValues) {
            polled.expected = polled.Values();
        }
    }
    return all;
}

void PrintFigures(const Figures &f, double seconds, std::size_t before, std::size_t after) {
    std::printf("soak: %.0f s, %zu rounds of 30 items, %zu reads\n", seconds, f.rounds, f.reads);
    std::printf("faults injected %zu, reported %zu, unreported %zu; failures without a fault "
                "%zu; wrong values %zu\n",
                f.injected, f.reported, f.unreported, f.failedWithoutFault, f.wrongValues);
    std::printf("kinds:");
    for (const auto &[kind, count] : f.kinds) {
        std::printf(" %s %zu", kind.c_str(), count);
    }
    std::printf("\nrecoveries %zu, reconnects after a hang-up %zu; descriptors %zu before, %zu "
                "after, %zu changes between rounds\n",
                f.recoveries, f.reconnects, before, after, f.descriptorChanges);
}

} // namespace

int main(int argc, char **argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 600;
    const std::string logPath =
        (std::filesystem::temp_directory_path() / ("soak_" + std::to_string(::getpid()) + ".log"))
            .string();
    hostlog_open(logPath.c_str());
    const std::size_t descriptorsBefore = OpenDescriptors();
    Figures figures;
    bool started = false;
    bool lastRoundClean = false;
    std::vector<PolledItem> items = PollList();
    std::size_t failingAtEnd = 0;
    const auto start = Clock::now();
    {
        Instance instance(20, kSeed);
        started = instance.ColdStart() == 0 && instance.Driver().state.adapterReady == 1 &&
                  instance.UseReplyTimeout(kReplyTimeout) && ReadAll(instance, items, true);
        for (const char *pattern : kFaultPatterns) {
            instance.Simulator().Fault(std::string(pattern) + kFaultOptions);
        }
        std::size_t seen = instance.Simulator().TraceEntries().size();
        const std::size_t descriptorsInRound = OpenDescriptors();
        while (started && MsSince(start) < seconds * 1000) {
            figures.descriptorChanges += OpenDescriptors() != descriptorsInRound ? 1 : 0;
            for (PolledItem &polled : items) {
                PollOne(instance, polled, seen, figures);
            }
            ++figures.rounds;
        }
        instance.Simulator().ClearFaults();
        failingAtEnd = static_cast<std::size_t>(
            std::count_if(items.begin(), items.end(), [](const auto &p) { return p.failing; }));
        lastRoundClean = ReadAll(instance, items, false);
    }
    const std::size_t descriptorsAfter = OpenDescriptors();
    hostlog_open(nullptr);
    PrintFigures(figures, MsSince(start) / 1000, descriptorsBefore, descriptorsAfter);
    std::printf("last round without faults: %s (%zu items had failed last in the run)\n",
                lastRoundClean ? "every item read with its value" : "FAILED", failingAtEnd);
    const bool passed = started && lastRoundClean && figures.unreported == 0 &&
                        figures.failedWithoutFault == 0 && figures.wrongValues == 0 &&
                        figures.descriptorChanges == 0 && descriptorsAfter == descriptorsBefore;
    if (!passed) {
        std::printf("FAILED (driver log: %s)\n", logPath.c_str());
        return 1;
    }
    std::filesystem::remove(logPath);
    return 0;
}
