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
    bool opens_port;
    bool longest_reply; // the reply must be 591 bytes
    void (DriverSide::*run)();
};

const std::vector<CommandKind> &command_kinds() {
    static const std::vector<CommandKind> kinds{
        {"SingleRead",
         "L01S1, a float",
         {{"L01S?\r", kEtx}},
         false,
         false,
         &DriverSide::single_read},
        {"BlockRead",
         "L29S0 x4 from the 591-byte loop summary",
         {{"SL?\r", kEtx}},
         false,
         true,
         &DriverSide::block_read},
        {"SingleWrite",
         "L01P0 = 45, confirmed with Y",
         {{"L01P=45.0\r", '\n'}, {"Y\r", kEtx}},
         false,
         false,
         &DriverSide::single_write},
        {"ColdStart",
         "open, S? DF DLSV%X DMVX",
         {{"S?\r", kEtx}, {"DF\r", kEtx}, {"DLSV%X\r", '\n'}, {"DMVX\r", '\n'}},
         true,
         false,
         &DriverSide::cold_start},
    };
    return kinds;
}

// The floor's side of each command: the same exchanges on a bare line.
class FloorSide {
  public:
    explicit FloorSide(std::string path) : path_(std::move(path)) { line_.emplace(path_); }

    // Closes the line before a command that opens it, as the driver's side shuts down.
    void prepare(const CommandKind &kind) {
        if (kind.opens_port)
            line_.reset();
    }

    std::vector<std::string> run(const CommandKind &kind) {
        if (!line_)
            line_.emplace(path_);
        std::vector<std::string> replies;
        for (const Exchange &exchange : kind.exchanges)
            replies.push_back(line_->exchange(exchange.request, exchange.terminator));
        return replies;
    }

  private:
    std::string path_;
    std::optional<BareLine> line_;
};

double thread_cpu_ms() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    const auto ms = [](const timeval &t) {
        return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3;
    };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

struct Sample {
    double ms;
    double cpu_ms;
};

Sample measure(const std::function<void()> &run) {
    const double cpu_before = thread_cpu_ms();
    const Clock::time_point start = Clock::now();
    run();
    const Clock::time_point end = Clock::now();
    return Sample{std::chrono::duration<double, std::milli>(end - start).count(),
                  thread_cpu_ms() - cpu_before};
}

void check_replies(const CommandKind &kind, const std::vector<std::string> &replies) {
    for (std::size_t i = 0; i < replies.size(); ++i)
        if (replies[i].empty() || replies[i].back() != kind.exchanges[i].terminator)
            throw std::runtime_error(std::string(kind.name) + ": no whole reply to " +
                                     kind.exchanges[i].request);
}

// Pauses, request, latency and reply on the wire; the reply overlaps the first pause.
double nominal_ms(const CommandKind &kind, const std::vector<std::string> &replies,
                  int latency_ms) {
    double total = 0;
    for (std::size_t i = 0; i < replies.size(); ++i) {
        const double wire =
            static_cast<double>(kind.exchanges[i].request.size() + replies[i].size()) *
            kCharacterMs;
        total += std::max(kAfterRequestMs, wire + latency_ms) + kAfterReplyMs;
    }
    return total;
}

CommandTimes describe(const CommandKind &kind, const std::vector<std::string> &replies,
                      int latency_ms) {
    CommandTimes times;
    times.name = kind.name;
    times.detail = kind.detail;
    times.exchanges = static_cast<int>(kind.exchanges.size());
    for (std::size_t i = 0; i < replies.size(); ++i) {
        times.request_bytes += kind.exchanges[i].request.size();
        times.reply_bytes += replies[i].size();
    }
    times.nominal_ms = nominal_ms(kind, replies, latency_ms);
    return times;
}

// The requests and replies of a simulator's trace, without their times.
std::vector<std::string> traffic(const std::string &trace_path) {
    std::ifstream trace(trace_path);
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

void check_same_traffic(const std::string &ours, const std::string &floor) {
    const std::vector<std::string> driver_lines = traffic(ours);
    const std::vector<std::string> floor_lines = traffic(floor);
    if (driver_lines.empty() || driver_lines != floor_lines)
        throw std::runtime_error("the driver and the floor did not exchange the same bytes: "
                                 "compare " +
                                 ours + " with " + floor);
}

std::vector<std::string> simulator_arguments(const TimingSettings &settings, bool paced) {
    std::vector<std::string> arguments{"--no-drift", "--latency",
                                       std::to_string(settings.latency_ms)};
    if (paced)
        arguments.emplace_back("--pace");
    const auto state = as_program_options(longest_summary_settings(), {});
    arguments.insert(arguments.end(), state.begin(), state.end());
    return arguments;
}

std::vector<std::string> traced(std::vector<std::string> arguments, const std::string &trace) {
    arguments.emplace_back("--trace");
    arguments.push_back(trace);
    return arguments;
}

// One command of each kind on both sides, untimed and in the same order: the start-up, which
// the driver's side made when it loaded, then the others. The floor's replies by kind, which
// give the byte counts; the loop summary must be the longest reply there is.
std::vector<std::vector<std::string>> warm_up(DriverSide &driver, FloorSide &floor) {
    const auto &kinds = command_kinds();
    std::vector<std::vector<std::string>> replies(kinds.size());
    for (std::size_t k = 0; k < kinds.size(); ++k)
        if (kinds[k].opens_port)
            replies[k] = floor.run(kinds[k]);
    for (std::size_t k = 0; k < kinds.size(); ++k)
        if (!kinds[k].opens_port) {
            (driver.*kinds[k].run)();
            replies[k] = floor.run(kinds[k]);
        }
    for (std::size_t k = 0; k < kinds.size(); ++k) {
        check_replies(kinds[k], replies[k]);
        if (kinds[k].longest_reply && replies[k].front().size() != kReplyLimit)
            throw std::runtime_error("the loop summary is " +
                                     std::to_string(replies[k].front().size()) + " bytes, not " +
                                     std::to_string(kReplyLimit));
    }
    return replies;
}

void time_kind(const CommandKind &kind, DriverSide &driver, FloorSide &floor, int commands,
               CommandTimes &times) {
    std::fprintf(stderr, "timing %s: %d commands on each side\n", kind.name, commands);
    for (int i = 0; i < commands; ++i) {
        const auto ours = [&] {
            if (kind.opens_port)
                driver.shutdown();
            const Sample sample = measure([&] { (driver.*kind.run)(); });
            times.ours_ms.push_back(sample.ms);
            times.ours_cpu_ms.push_back(sample.cpu_ms);
        };
        const auto bare = [&] {
            floor.prepare(kind);
            std::vector<std::string> replies;
            const Sample sample = measure([&] { replies = floor.run(kind); });
            check_replies(kind, replies);
            times.floor_ms.push_back(sample.ms);
            times.floor_cpu_ms.push_back(sample.cpu_ms);
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

std::vector<CommandTimes> time_commands(const TimingSettings &settings) {
    const std::string driver_trace = settings.out_dir + "/simulator-driver.trace";
    const std::string floor_trace = settings.out_dir + "/simulator-floor.trace";
    std::filesystem::remove(driver_trace);
    std::filesystem::remove(floor_trace);

    const SimulatorProcess driver_line(settings.simulator,
                                       traced(simulator_arguments(settings, true), driver_trace));
    const SimulatorProcess floor_line(settings.simulator,
                                      traced(simulator_arguments(settings, true), floor_trace));
    DriverSide driver(settings.driver, driver_line.port_name());
    FloorSide floor(floor_line.slave_path());

    const auto &kinds = command_kinds();
    const std::vector<std::vector<std::string>> replies = warm_up(driver, floor);
    check_same_traffic(driver_trace, floor_trace);
    std::vector<CommandTimes> results;
    for (std::size_t k = 0; k < kinds.size(); ++k)
        results.push_back(describe(kinds[k], replies[k], settings.latency_ms));

    for (std::size_t k = 0; k < kinds.size(); ++k)
        time_kind(kinds[k], driver, floor, settings.commands, results[k]);
    return results;
}

std::vector<double> waiting_block_read_cpu(const TimingSettings &settings) {
    std::fprintf(stderr, "timing %d BlockReads on a line that is not paced\n", settings.commands);
    const SimulatorProcess line(settings.simulator, simulator_arguments(settings, false));
    DriverSide driver(settings.driver, line.port_name());
    std::vector<double> cpu_ms;
    cpu_ms.reserve(static_cast<std::size_t>(settings.commands));
    for (int i = 0; i < settings.commands; ++i)
        cpu_ms.push_back(measure([&] { driver.block_read(); }).cpu_ms);
    return cpu_ms;
}

} // namespace bench
