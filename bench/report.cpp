#include "report.h"

#include "json_writer.h"
#include "stats.h"

#include <algorithm>
#include <memory>
#include <stdexcept>

namespace bench {
namespace {

using File = std::unique_ptr<std::FILE, int (*)(std::FILE *)>;

File open_for_writing(const std::string &path) {
    File file(std::fopen(path.c_str(), "w"), std::fclose);
    if (!file)
        throw std::runtime_error("cannot write " + path);
    return file;
}

void print_header(const Results &results, std::FILE *out) {
    const Machine &machine = results.machine;
    std::fprintf(out, "EM-1 driver benchmark, %s\n", machine.date.c_str());
    std::fprintf(out, "machine: %s, %u cores, %s\n", machine.cpu.c_str(), machine.cores,
                 machine.kernel.c_str());
    std::fprintf(out,
                 "line: simulator paced at 9600 8N1 (1.042 ms a byte), latency %d ms; %d "
                 "commands of each kind on each side, taking turns\n",
                 results.timing.latency_ms, results.timing.commands);
}

void print_times(const Results &results, std::FILE *out) {
    std::fprintf(out, "\nTime per command (ms): the driver, and the floor (the same exchanges "
                      "as bare system calls)\n");
    std::fprintf(out, "%-12s %7s | %8s %8s %8s | %8s %8s %8s | %8s | %7s %7s | %7s\n", "command",
                 "out/in", "median", "p95", "p99", "floor", "p95", "p99", "nominal", "+median",
                 "+p99", "ratio");
    for (const CommandTimes &command : results.commands) {
        const Summary ours = summarise(command.ours_ms);
        const Summary floor = summarise(command.floor_ms);
        const std::string bytes =
            std::to_string(command.request_bytes) + '/' + std::to_string(command.reply_bytes);
        std::fprintf(out,
                     "%-12s %7s | %8.2f %8.2f %8.2f | %8.2f %8.2f %8.2f | %8.2f | %7.2f %7.2f | "
                     "%7.4f\n",
                     command.name.c_str(), bytes.c_str(), ours.median, ours.p95, ours.p99,
                     floor.median, floor.p95, floor.p99, command.nominal_ms,
                     ours.median - floor.median, ours.p99 - floor.p99, ours.median / floor.median);
    }
}

void print_cpu(const Results &results, std::FILE *out) {
    std::fprintf(out, "\nCPU per command (ms, user + system time of the calling thread)\n");
    std::fprintf(out, "%-12s | %7s %7s %7s %7s | %7s %7s\n", "command", "median", "mean", "p95",
                 "max", "floor", "mean");
    for (const CommandTimes &command : results.commands) {
        const Summary ours = summarise(command.ours_cpu_ms);
        const Summary floor = summarise(command.floor_cpu_ms);
        std::fprintf(out, "%-12s | %7.3f %7.3f %7.3f %7.3f | %7.3f %7.3f\n", command.name.c_str(),
                     ours.median, ours.mean, ours.p95, ours.max, floor.median, floor.mean);
    }
    const Summary waiting = summarise(results.waiting_block_cpu_ms);
    std::fprintf(out,
                 "%-12s | %7.3f %7.3f %7.3f %7.3f | BlockRead with all 591 bytes waiting "
                 "(line not paced)\n",
                 "BlockRead*", waiting.median, waiting.mean, waiting.p95, waiting.max);
}

void print_decoding(const Results &results, std::FILE *out) {
    std::fprintf(out, "\nDecoding and the other work between waits (ns per operation)\n");
    for (const DecodeCost &cost : results.decoding)
        std::fprintf(out, "  %-58s %9.1f\n", cost.name.c_str(), cost.ns);
}

void print_timeouts(const Results &results, std::FILE *out) {
    std::fprintf(out, "\nSilent line: how long past its read timeout a read returns (ms)\n");
    std::fprintf(out, "%8s %6s | %7s %7s %7s %7s\n", "timeout", "reads", "min", "median", "p95",
                 "max");
    for (const TimeoutSamples &timeout : results.timeouts) {
        const Summary over = summarise(timeout.overshoot_ms);
        std::fprintf(out, "%8d %6zu | %7.3f %7.3f %7.3f %7.3f\n", timeout.timeout_ms, over.count,
                     over.min, over.median, over.p95, over.max);
    }
}

void print_suites(const Results &results, std::FILE *out) {
    std::fprintf(out,
                 "\nUnit tests on the virtual clock: protocol time covered, real time taken\n");
    std::fprintf(out, "%-16s %10s %9s %10s\n", "suite", "virtual s", "real s", "speed-up");
    double virtual_total = 0;
    double real_total = 0;
    for (const SuiteTime &suite : results.suites) {
        std::fprintf(out, "%-16s %10.1f %9.3f %9.0fx\n", suite.name.c_str(), suite.virtual_s,
                     suite.real_s, suite.virtual_s / suite.real_s);
        virtual_total += suite.virtual_s;
        real_total += suite.real_s;
    }
    std::fprintf(out, "%-16s %10.1f %9.3f %9.0fx\n", "all", virtual_total, real_total,
                 virtual_total / real_total);
}

void print_targets(const std::vector<Target> &targets, std::FILE *out) {
    std::fprintf(out, "\nTargets\n");
    for (const Target &target : targets)
        std::fprintf(out, "  %-62s %10.4f %-2s (at most %g) %s\n", target.what.c_str(),
                     target.value, target.unit.c_str(), target.limit,
                     target.met() ? "met" : "MISSED");
}

void write_summary(JsonWriter &json, std::string_view key, const std::vector<double> &samples) {
    const Summary summary = summarise(samples);
    json.begin_object(key);
    json.number("count", static_cast<double>(summary.count));
    json.number("min", summary.min);
    json.number("median", summary.median);
    json.number("p95", summary.p95);
    json.number("p99", summary.p99);
    json.number("max", summary.max);
    json.number("mean", summary.mean);
    json.end_object();
}

void write_commands(JsonWriter &json, const Results &results) {
    json.begin_array("commands");
    for (const CommandTimes &command : results.commands) {
        json.begin_object();
        json.text("name", command.name);
        json.text("detail", command.detail);
        json.number("exchanges", command.exchanges);
        json.number("request_bytes", static_cast<double>(command.request_bytes));
        json.number("reply_bytes", static_cast<double>(command.reply_bytes));
        json.number("nominal_ms", command.nominal_ms);
        write_summary(json, "ms", command.ours_ms);
        write_summary(json, "floor_ms", command.floor_ms);
        write_summary(json, "cpu_ms", command.ours_cpu_ms);
        write_summary(json, "floor_cpu_ms", command.floor_cpu_ms);
        json.numbers("samples_ms", command.ours_ms);
        json.numbers("floor_samples_ms", command.floor_ms);
        json.numbers("cpu_samples_ms", command.ours_cpu_ms);
        json.end_object();
    }
    json.end_array();
    write_summary(json, "waiting_block_read_cpu_ms", results.waiting_block_cpu_ms);
}

void write_measures(JsonWriter &json, const Results &results) {
    json.begin_array("decoding_ns");
    for (const DecodeCost &cost : results.decoding) {
        json.begin_object();
        json.text("name", cost.name);
        json.number("ns", cost.ns);
        json.end_object();
    }
    json.end_array();
    json.begin_array("silent_read_overshoot_ms");
    for (const TimeoutSamples &timeout : results.timeouts) {
        json.begin_object();
        json.number("timeout_ms", timeout.timeout_ms);
        write_summary(json, "overshoot_ms", timeout.overshoot_ms);
        json.numbers("samples_ms", timeout.overshoot_ms);
        json.end_object();
    }
    json.end_array();
    json.begin_array("virtual_clock_suites");
    for (const SuiteTime &suite : results.suites) {
        json.begin_object();
        json.text("name", suite.name);
        json.number("virtual_s", suite.virtual_s);
        json.number("real_s", suite.real_s);
        json.end_object();
    }
    json.end_array();
}

void write_targets(JsonWriter &json, const std::vector<Target> &targets) {
    json.begin_array("targets");
    for (const Target &target : targets) {
        json.begin_object();
        json.text("what", target.what);
        json.text("unit", target.unit);
        json.number("limit", target.limit);
        json.number("value", target.value);
        json.flag("met", target.met());
        json.end_object();
    }
    json.end_array();
}

} // namespace

void print_table(const Results &results, const std::vector<Target> &targets, std::FILE *out) {
    print_header(results, out);
    print_times(results, out);
    print_cpu(results, out);
    print_decoding(results, out);
    print_timeouts(results, out);
    print_suites(results, out);
    print_targets(targets, out);
}

void write_json(const Results &results, const std::vector<Target> &targets,
                const std::string &path) {
    const File file = open_for_writing(path);
    JsonWriter json(file.get());
    json.begin_object();
    json.begin_object("machine");
    json.text("date", results.machine.date);
    json.text("cpu", results.machine.cpu);
    json.number("cores", results.machine.cores);
    json.text("kernel", results.machine.kernel);
    json.end_object();
    json.begin_object("line");
    json.text("framing", "9600 8N1, paced");
    json.number("latency_ms", results.timing.latency_ms);
    json.number("commands_each", results.timing.commands);
    json.end_object();
    write_commands(json, results);
    write_measures(json, results);
    write_targets(json, targets);
    json.end_object();
}

void write_plot_data(const Results &results, const std::string &path) {
    const File file = open_for_writing(path);
    for (const CommandTimes &command : results.commands) {
        std::vector<double> ours = command.ours_ms;
        std::vector<double> floor = command.floor_ms;
        std::sort(ours.begin(), ours.end());
        std::sort(floor.begin(), floor.end());
        const double base = percentile(floor, 50);
        std::fprintf(file.get(), "# %s: ms past the floor's median of %.2f ms\n",
                     command.name.c_str(), base);
        const std::size_t count = std::min(ours.size(), floor.size());
        for (std::size_t i = 0; i < count; ++i)
            std::fprintf(file.get(), "%.4f %.4f %.4f\n",
                         (static_cast<double>(i) + 0.5) / static_cast<double>(count),
                         ours[i] - base, floor[i] - base);
        std::fputs("\n\n", file.get());
    }
}

} // namespace bench
