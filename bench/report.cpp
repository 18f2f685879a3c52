#include "report.h"

#include "json_writer.h"
#include "stats.h"

#include <algorithm>
#include <memory>
#include <stdexcept>

namespace bench {
namespace {

using File = std::unique_ptr<std::FILE, int (*)(std::FILE *)>;

File OpenForWriting(const std::string &path) {
    File file(std::fopen(path.c_str(), "w"), std::fclose);
    if (!file)
        throw std::runtime_error("cannot write " + path);
    return file;
}

void PrintHeader(const Results &results, std::FILE *out) {
    const Machine &machine = results.machine;
    std::fprintf(out, "EM-1 driver benchmark, %s\n", machine.date.c_str());
    std::fprintf(out, "machine: %s, %u cores, %s\n", machine.cpu.c_str(), machine.cores,
                 machine.kernel.c_str());
    std::fprintf(out,
                 "line: simulator paced at 9600 8N1 (1.042 ms a byte), latency %d ms; %d "
                 "commands of each kind on each side, taking turns\n",
                 results.timing.latencyMs, results.timing.commands);
}

void PrintTimes(const Results &results, std::FILE *out) {
    std::fprintf(out, "\nTime per command (ms): the driver, and the floor (the same exchanges "
                      "as bare system calls)\n");
    std::fprintf(out, "%-12s %7s | %8s %8s %8s | %8s %8s %8s | %8s | %7s %7s | %7s\n", "command",
                 "out/in", "median", "p95", "p99", "floor", "p95", "p99", "nominal", "+median",
                 "+p99", "ratio");
    for (const CommandTimes &command : results.commands) {
        const Summary ours = Summarise(command.oursMs);
        const Summary floor = Summarise(command.floorMs);
        const std::string bytes =
            std::to_string(command.requestBytes) + '/' + std::to_string(command.replyBytes);
        std::fprintf(out,
                     "%-12s %7s | %8.2f %8.2f %8.2f | %8.2f %8.2f %8.2f | %8.2f | %7.2f %7.2f | "
                     "%7.4f\n",
                     command.name.c_str(), bytes.c_str(), ours.median, ours.p95, ours.p99,
                     floor.median, floor.p95, floor.p99, command.nominalMs,
                     ours.median - floor.median, ours.p99 - floor.p99, ours.median / floor.median);
    }
}

void PrintCpu(const Results &results, std::FILE *out) {
    std::fprintf(out, "\nCPU per command (ms, user + system time of the calling thread)\n");
    std::fprintf(out, "%-12s | %7s %7s %7s %7s | %7s %7s\n", "command", "median", "mean", "p95",
                 "max", "floor", "mean");
    for (const CommandTimes &command : results.commands) {
        const Summary ours = Summarise(command.oursCpuMs);
        const Summary floor = Summarise(command.floorCpuMs);
        std::fprintf(out, "%-12s | %7.3f %7.3f %7.3f %7.3f | %7.3f %7.3f\n", command.name.c_str(),
                     ours.median, ours.mean, ours.p95, ours.max, floor.median, floor.mean);
    }
    const Summary waiting = Summarise(results.waitingBlockCpuMs);
    std::fprintf(out,
                 "%-12s | %7.3f %7.3f %7.3f %7.3f | BlockRead with all 591 bytes waiting "
                 "(line not paced)\n",
                 "BlockRead*", waiting.median, waiting.mean, waiting.p95, waiting.max);
}

void PrintDecoding(const Results &results, std::FILE *out) {
    std::fprintf(out, "\nDecoding and the other work between waits (ns per operation)\n");
    for (const DecodeCost &cost : results.decoding)
        std::fprintf(out, "  %-58s %9.1f\n", cost.name.c_str(), cost.ns);
}

void PrintTimeouts(const Results &results, std::FILE *out) {
    std::fprintf(out, "\nSilent line: how long past its read timeout a read returns (ms)\n");
    std::fprintf(out, "%8s %6s | %7s %7s %7s %7s\n", "timeout", "reads", "min", "median", "p95",
                 "max");
    for (const TimeoutSamples &timeout : results.timeouts) {
        const Summary over = Summarise(timeout.overshootMs);
        std::fprintf(out, "%8d %6zu | %7.3f %7.3f %7.3f %7.3f\n", timeout.timeoutMs, over.count,
                     over.min, over.median, over.p95, over.max);
    }
}

void PrintSuites(const Results &results, std::FILE *out) {
    std::fprintf(out,
                 "\nUnit tests on the virtual clock: protocol time covered, real time taken\n");
    std::fprintf(out, "%-16s %10s %9s %10s\n", "suite", "virtual s", "real s", "speed-up");
    double virtualTotal = 0;
    double realTotal = 0;
    for (const SuiteTime &suite : results.suites) {
        std::fprintf(out, "%-16s %10.1f %9.3f %9.0fx\n", suite.name.c_str(), suite.virtualS,
                     suite.realS, suite.virtualS / suite.realS);
        virtualTotal += suite.virtualS;
        realTotal += suite.realS;
    }
    std::fprintf(out, "%-16s %10.1f %9.3f %9.0fx\n", "all", virtualTotal, realTotal,
                 virtualTotal / realTotal);
}

void PrintTargets(const std::vector<Target> &targets, std::FILE *out) {
    std::fprintf(out, "\nTargets\n");
    for (const Target &target : targets)
        std::fprintf(out, "  %-62s %10.4f %-2s (at most %g) %s\n", target.what.c_str(),
                     target.value, target.unit.c_str(), target.limit,
                     target.Met() ? "met" : "MISSED");
}

void WriteSummary(JsonWriter &json, std::string_view key, const std::vector<double> &samples) {
    const Summary summary = Summarise(samples);
    json.BeginObject(key);
    json.Number("count", static_cast<double>(summary.count));
    json.Number("min", summary.min);
    json.Number("median", summary.median);
    json.Number("p95", summary.p95);
    json.Number("p99", summary.p99);
    json.Number("max", summary.max);
    json.Number("mean", summary.mean);
    json.EndObject();
}

void WriteCommands(JsonWriter &json, const Results &results) {
    json.BeginArray("commands");
    for (const CommandTimes &command : results.commands) {
        json.BeginObject();
        json.Text("name", command.name);
        json.Text("detail", command.detail);
        json.Number("exchanges", command.exchanges);
        json.Number("request_bytes", static_cast<double>(command.requestBytes));
        json.Number("reply_bytes", static_cast<double>(command.replyBytes));
        json.Number("nominal_ms", command.nominalMs);
        WriteSummary(json, "ms", command.oursMs);
        WriteSummary(json, "floor_ms", command.floorMs);
        WriteSummary(json, "cpu_ms", command.oursCpuMs);
        WriteSummary(json, "floor_cpu_ms", command.floorCpuMs);
        json.Numbers("samples_ms", command.oursMs);
        json.Numbers("floor_samples_ms", command.floorMs);
        json.Numbers("cpu_samples_ms", command.oursCpuMs);
        json.EndObject();
    }
    json.EndArray();
    WriteSummary(json, "waiting_block_read_cpu_ms", results.waitingBlockCpuMs);
}

void WriteMeasures(JsonWriter &json, const Results &results) {
    json.BeginArray("decoding_ns");
    for (const DecodeCost &cost : results.decoding) {
        json.BeginObject();
        json.Text("name", cost.name);
        json.Number("ns", cost.ns);
        json.EndObject();
    }
    json.EndArray();
    json.BeginArray("silent_read_overshoot_ms");
    for (const TimeoutSamples &timeout : results.timeouts) {
        json.BeginObject();
        json.Number("timeout_ms", timeout.timeoutMs);
        WriteSummary(json, "overshoot_ms", timeout.overshootMs);
        json.Numbers("samples_ms", timeout.overshootMs);
        json.EndObject();
    }
    json.EndArray();
    json.BeginArray("virtual_clock_suites");
    for (const SuiteTime &suite : results.suites) {
        json.BeginObject();
        json.Text("name", suite.name);
        json.Number("virtual_s", suite.virtualS);
        json.Number("real_s", suite.realS);
        json.EndObject();
    }
    json.EndArray();
}

void WriteTargets(JsonWriter &json, const std::vector<Target> &targets) {
    json.BeginArray("targets");
    for (const Target &target : targets) {
        json.BeginObject();
        json.Text("what", target.what);
        json.Text("unit", target.unit);
        json.Number("limit", target.limit);
        json.Number("value", target.value);
        json.Flag("met", target.Met());
        json.EndObject();
    }
    json.EndArray();
}

} // namespace

void PrintTable(const Results &results, const std::vector<Target> &targets, std::FILE *out) {
    PrintHeader(results, out);
    PrintTimes(results, out);
    PrintCpu(results, out);
    PrintDecoding(results, out);
    PrintTimeouts(results, out);
    PrintSuites(results, out);
    PrintTargets(targets, out);
}

void WriteJson(const Results &results, const std::vector<Target> &targets,
               const std::string &path) {
    const File file = OpenForWriting(path);
    JsonWriter json(file.get());
    json.BeginObject();
    json.BeginObject("machine");
    json.Text("date", results.machine.date);
    json.Text("cpu", results.machine.cpu);
    json.Number("cores", results.machine.cores);
    json.Text("kernel", results.machine.kernel);
    json.EndObject();
    json.BeginObject("line");
    json.Text("framing", "9600 8N1, paced");
    json.Number("latency_ms", results.timing.latencyMs);
    json.Number("commands_each", results.timing.commands);
    json.EndObject();
    WriteCommands(json, results);
    WriteMeasures(json, results);
    WriteTargets(json, targets);
    json.EndObject();
}

void WritePlotData(const Results &results, const std::string &path) {
    const File file = OpenForWriting(path);
    for (const CommandTimes &command : results.commands) {
        std::vector<double> ours = command.oursMs;
        std::vector<double> floor = command.floorMs;
        std::sort(ours.begin(), ours.end());
        std::sort(floor.begin(), floor.end());
        const double base = Percentile(floor, 50);
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
