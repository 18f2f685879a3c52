// em_bench: measures the EM-1 driver against the protocol's own limit and prints the figures;
// see --help.
#include "bench_paths.h"
#include "hostlog.h"
#include "report.h"
#include "results.h"

#include <charconv>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <getopt.h>
#include <optional>
#include <stdexcept>
#include <string_view>

namespace {

constexpr const char *kUsage =
    R"(Usage: em_bench [--out DIR] [--commands N] [--latency MS] [--quick]

Measures the EM-1 driver (%s) against the protocol's own limit, in one run:
  - time per command of SingleRead, BlockRead (the longest block reply, 591 bytes),
    SingleWrite with confirmation and ColdStart: the driver, loaded as a host loads it, against
    em1sim --pace on a pseudo-terminal, and taking turns with it the floor, the same
    exchanges as bare system calls against a second simulator; median, p95, p99, the
    difference and the ratio;
  - CPU time per command (getrusage of the calling thread);
  - decoding cost with Google Benchmark: StoreData, DefineItem, number texts;
  - how far past the read timeout a read on a silent line returns, at 50 ms, 1 s and 2 s;
  - the protocol time the unit tests on the virtual clock cover against the real time.
Prints a table with the targets met or missed and writes DIR/bench.json and DIR/times.dat
(the data of the plot; scripts/bench.sh draws it). Exits with 1 when a measurement cannot
be made; missed targets are reported, not failed.

  --out DIR       where to write the results (default: the current folder)
  --commands N    commands of each kind on each side (default 100, at least 1)
  --latency MS    the simulator's delay before every reply (default 20)
  --quick         a short run that checks every part works: 3 commands each, few samples
  -h, --help      this text
)";

struct Options {
    std::string out = ".";
    int commands = 100;
    int latencyMs = 20;
    bool quick = false;
};

std::optional<int> ParseCount(std::string_view text, int low) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < low)
        return std::nullopt;
    return value;
}

// nullopt after printing the usage or a complaint; exitCode says which.
std::optional<Options> ParseOptions(int argc, char **argv, int &exitCode) {
    static const option kLong[] = {
        {"out", required_argument, nullptr, 'o'},     {"commands", required_argument, nullptr, 'n'},
        {"latency", required_argument, nullptr, 'l'}, {"quick", no_argument, nullptr, 'q'},
        {"help", no_argument, nullptr, 'h'},          {nullptr, 0, nullptr, 0}};
    Options options;
    bool commandsGiven = false;
    for (int code; (code = getopt_long(argc, argv, "h", kLong, nullptr)) != -1;) {
        std::optional<int> number;
        switch (code) {
        case 'o':
            options.out = optarg;
            break;
        case 'n':
            number = ParseCount(optarg, 1);
            commandsGiven = true;
            options.commands = number.value_or(0);
            break;
        case 'l':
            number = ParseCount(optarg, 0);
            options.latencyMs = number.value_or(0);
            break;
        case 'q':
            options.quick = true;
            continue;
        case 'h':
            std::printf(kUsage, kDriverPath);
            exitCode = 0;
            return std::nullopt;
        default:
            exitCode = 64;
            return std::nullopt;
        }
        if ((code == 'n' || code == 'l') && !number) {
            std::fprintf(stderr, "em_bench: --%s wants a whole number\n",
                         code == 'n' ? "commands" : "latency");
            exitCode = 64;
            return std::nullopt;
        }
    }
    if (optind < argc) {
        std::fprintf(stderr, "em_bench: unexpected argument %s\n", argv[optind]);
        exitCode = 64;
        return std::nullopt;
    }
    if (options.quick && !commandsGiven)
        options.commands = 3;
    return options;
}

// The driver's log lines go to a file beside the results, not into the table.
bench::Results Measure(const Options &options) {
    if (hostlog_open((options.out + "/driver.log").c_str()) != 0)
        throw std::runtime_error("cannot write " + options.out + "/driver.log");
    bench::Results results;
    results.machine = bench::ThisMachine();
    results.timing = bench::TimingSettings{kDriverPath, kSimulatorPath, options.out,
                                           options.commands, options.latencyMs};
    results.decoding = bench::TimeDecoding(bench::FetchReplies(), options.quick);
    results.suites = bench::TimeSuites(
        std::vector<std::string>(std::begin(kVirtualClockSuites), std::end(kVirtualClockSuites)),
        options.out);
    const std::vector<int> samples = options.quick ? std::vector{3, 1, 1} : std::vector{20, 5, 5};
    results.timeouts = bench::TimeSilentReads({50, 1000, 2000}, samples);
    results.commands = bench::TimeCommands(results.timing);
    results.waitingBlockCpuMs = bench::WaitingBlockReadCpu(results.timing);
    hostlog_open(nullptr);
    return results;
}

} // namespace

int main(int argc, char **argv) {
    int exitCode = 0;
    const std::optional<Options> options = ParseOptions(argc, argv, exitCode);
    if (!options)
        return exitCode;
    try {
        std::filesystem::create_directories(options->out);
        const bench::Results results = Measure(*options);
        const std::vector<bench::Target> targets = bench::Targets(results);
        bench::PrintTable(results, targets, stdout);
        bench::WriteJson(results, targets, options->out + "/bench.json");
        bench::WritePlotData(results, options->out + "/times.dat");
        std::printf("\nwritten: %s/bench.json, %s/times.dat\n", options->out.c_str(),
                    options->out.c_str());
        return 0;
    } catch (const std::exception &error) {
        std::fprintf(stderr, "em_bench: %s\n", error.what());
        return 1;
    }
}
