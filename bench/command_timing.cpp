#include "command_timing.h"

#include "bare_line.h"
#include "driver_side.h"
#include "instrument_state.h"
#include "simulator_process.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <stdexcept>
#include <sys/resource.h>

namespace bench {
namespace {

using Clock = std::chrono::steady_clock;

constexpr double kAfterRequestMs = 200;
constexpr double kAfterReplyMs = 50;
constexpr double kCharacterMs = 10.0 / 9600 * 1000; // 9600 8N1

struct Exchange {
    std::string request;
    char terminator;
};

struct CommandKind {
    const char *name;
    const char *detail;
    std::vector<Exchange> exchanges;
    bool opensPort;
    bool longestReply; // the reply must be 591 bytes
    void (DriverSide::*run)();
};

const std::vector<CommandKind> &CommandKinds() {
    static const std::vector<CommandKind> kinds{
        {"SingleRead",
         "L01S1, a float",
         {{"L01S?\r", kEtx}},
         false,
         false,
         &DriverSide::SingleRead},
        {"BlockRead",
         "L29S0 x4 from the 591-byte loop summary",
         {{"SL?\r", kEtx}},
         false,
         true,
         &DriverSide::BlockRead},
        {"SingleWrite",
         "L01P0 = 45, confirmed with Y",
         {{"L01P=45.0\r", '\n'}, {"Y\r", kEtx}},
         false,
         false,
         &DriverSide::SingleWrite},
        {"ColdStart",
         "open, S? DF DLSV%X DMVX",
         {{"S?\r", kEtx}, {"DF\r", kEtx}, {"DLSV%X\r", '\n'}, {"DMVX\r", '\n'}},
         true,
         false,
         &DriverSide::ColdStart},
    };
    return kinds;
}

// The floor's side of each command: the same exchanges on a bare line.
class FloorSide {
  public:
    explicit FloorSide(std::string path) : path_(std::move(path)) { line_.emplace(path_); }

    // Closes the line before a command that opens it, as the driver's side shuts down.
    void Prepare(const CommandKind &kind) {
        if (kind.opensPort)
            line_.reset();
    }

    std::vector<std::string> Run(const CommandKind &kind) {
        if (!line_)
            line_.emplace(path_);
        std::vector<std::string> replies;
        for (const Exchange &exchange : kind.exchanges)
            replies.push_back(line_->Exchange(exchange.request, exchange.terminator));
        return replies;
    }

  private:
    std::string path_;
    std::optional<BareLine> line_;
};

double ThreadCpuMs() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    const auto ms = [](const timeval &t) {
        return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3;
    };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

struct Sample {
    double ms;
    double cpuMs;
};

Sample Measure(const std::function<void()> &run) {
    const double cpuBefore = ThreadCpuMs();
    const Clock::time_point start = Clock::now();
    run();
    const Clock::time_point end = Clock::now();
    return Sample{std::chrono::duration<double, std::milli>(end - start).count(),
                  ThreadCpuMs() - cpuBefore};
}

void CheckReplies(const CommandKind &kind, const std::vector<std::string> &replies) {
    for (std::size_t i = 0; i < replies.size(); ++i)
        if (replies[i].empty() || replies[i].back() != kind.exchanges[i].terminator)
            throw std::runtime_error(std::string(kind.name) + ": no whole reply to " +
                                     kind.exchanges[i].request);
}

// Pauses, request, latency and reply on the wire; the reply overlaps the first pause.
double NominalMs(const CommandKind &kind, const std::vector<std::string> &replies, int latencyMs) {
    double total = 0;
    for (std::size_t i = 0; i < replies.size(); ++i) {
        const double wire =
            static_cast<double>(kind.exchanges[i].request.size() + replies[i].size()) *
            kCharacterMs;
        total += std::max(kAfterRequestMs, wire + latencyMs) + kAfterReplyMs;
    }
    return total;
}

CommandTimes Describe(const CommandKind &kind, const std::vector<std::string> &replies,
                      int latencyMs) {
    CommandTimes times;
    times.name = kind.name;
    times.detail = kind.detail;
    times.exchanges = static_cast<int>(kind.exchanges.size());
    for (std::size_t i = 0; i < replies.size(); ++i) {
        times.requestBytes += kind.exchanges[i].request.size();
        times.replyBytes += replies[i].size();
    }
    times.nominalMs = NominalMs(kind, replies, latencyMs);
    return times;
}

// The requests and replies of a simulator's trace, without their times.
std::vector<std::string> Traffic(const std::string &tracePath) {
    std::ifstream trace(tracePath);
    std::vector<std::string> lines;
    for (std::string line; std::getline(trace, line);) {
        const std::size_t direction = line.find_first_not_of(' ');
        const std::size_t text = line.find(' ', direction);
        if (text != std::string::npos &&
            (line.compare(text + 1, 3, "RX ") == 0 || line.compare(text + 1, 3, "TX ") == 0))
            lines.push_back(line.substr(text + 1));
    }
    return lines;
}

void CheckSameTraffic(const std::string &ours, const std::string &floor) {
    const std::vector<std::string> driverLines = Traffic(ours);
    const std::vector<std::string> floorLines = Traffic(floor);
    if (driverLines.empty() || driverLines != floorLines)
        throw std::runtime_error("the driver and the floor did not exchange the same bytes: "
                                 "compare " +
                                 ours + " with " + floor);
}

std::vector<std::string> SimulatorArguments(const TimingSettings &settings, bool paced) {
    std::vector<std::string> arguments{"--no-drift", "--latency",
                                       std::to_string(settings.latencyMs)};
    if (paced)
        arguments.emplace_back("--pace");
    const auto state = AsProgramOptions(LongestSummarySettings(), {});
    arguments.insert(arguments.end(), state.begin(), state.end());
    return arguments;
}

std::vector<std::string> Traced(std::vector<std::string> arguments, const std::string &trace) {
    arguments.emplace_back("--trace");
    arguments.push_back(trace);
    return arguments;
}

// One command of each kind on both sides, untimed and in the same order: the start-up, which
// the driver's side made when it loaded, then the others. The floor's replies by kind, which
// give the byte counts; the loop summary must be the longest reply there is.
std::vector<std::vector<std::string>> WarmUp(DriverSide &driver, FloorSide &floor) {
    const auto &kinds = CommandKinds();
    std::vector<std::vector<std::string>> replies(kinds.size());
    for (std::size_t k = 0; k < kinds.size(); ++k)
        if (kinds[k].opensPort)
            replies[k] = floor.Run(kinds[k]);
    for (std::size_t k = 0; k < kinds.size(); ++k)
        if (!kinds[k].opensPort) {
            (driver.*kinds[k].run)();
            replies[k] = floor.Run(kinds[k]);
        }
    for (std::size_t k = 0; k < kinds.size(); ++k) {
        CheckReplies(kinds[k], replies[k]);
        if (kinds[k].longestReply && replies[k].front().size() != kReplyLimit)
            throw std::runtime_error("the loop summary is " +
                                     std::to_string(replies[k].front().size()) + " bytes, not " +
                                     std::to_string(kReplyLimit));
    }
    return replies;
}

void TimeKind(const CommandKind &kind, DriverSide &driver, FloorSide &floor, int commands,
              CommandTimes &times) {
    std::fprintf(stderr, "timing %s: %d commands on each side\n", kind.name, commands);
    for (int i = 0; i < commands; ++i) {
        const auto ours = [&] {
            if (kind.opensPort)
                driver.Shutdown();
            const Sample sample = Measure([&] { (driver.*kind.run)(); });
            times.oursMs.push_back(sample.ms);
            times.oursCpuMs.push_back(sample.cpuMs);
        };
        const auto bare = [&] {
            floor.Prepare(kind);
            std::vector<std::string> replies;
            const Sample sample = Measure([&] { replies = floor.Run(kind); });
            CheckReplies(kind, replies);
            times.floorMs.push_back(sample.ms);
            times.floorCpuMs.push_back(sample.cpuMs);
        };
        if (i % 2 == 0) {
            ours();
            bare();
        } else {
            bare();
            ours();
        }
    }
}

} // namespace

std::vector<CommandTimes> TimeCommands(const TimingSettings &settings) {
    const std::string driverTrace = settings.outDir + "/simulator-driver.trace";
    const std::string floorTrace = settings.outDir + "/simulator-floor.trace";
    std::filesystem::remove(driverTrace);
    std::filesystem::remove(floorTrace);

    const SimulatorProcess driverLine(settings.simulator,
                                      Traced(SimulatorArguments(settings, true), driverTrace));
    const SimulatorProcess floorLine(settings.simulator,
                                     Traced(SimulatorArguments(settings, true), floorTrace));
    DriverSide driver(settings.driver, driverLine.PortName());
    FloorSide floor(floorLine.SlavePath());

    const auto &kinds = CommandKinds();
    const std::vector<std::vector<std::string>> replies = WarmUp(driver, floor);
    CheckSameTraffic(driverTrace, floorTrace);
    std::vector<CommandTimes> results;
    for (std::size_t k = 0; k < kinds.size(); ++k)
        results.push_back(Describe(kinds[k], replies[k], settings.latencyMs));

    for (std::size_t k = 0; k < kinds.size(); ++k)
        TimeKind(kinds[k], driver, floor, settings.commands, results[k]);
    return results;
}

std::vector<double> WaitingBlockReadCpu(const TimingSettings &settings) {
    std::fprintf(stderr, "timing %d BlockReads on a line that is not paced\n", settings.commands);
    const SimulatorProcess line(settings.simulator, SimulatorArguments(settings, false));
    DriverSide driver(settings.driver, line.PortName());
    std::vector<double> cpuMs;
    cpuMs.reserve(static_cast<std::size_t>(settings.commands));
    for (int i = 0; i < settings.commands; ++i)
        cpuMs.push_back(Measure([&] { driver.BlockRead(); }).cpuMs);
    return cpuMs;
}

} // namespace bench
