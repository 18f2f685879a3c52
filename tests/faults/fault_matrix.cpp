// The fault matrix: every fault mode of the simulator against ColdStart, SingleRead (a loop
// item and a special word), BlockRead and SingleWrite, end to end over a pseudo-terminal.
//
// Each cell spoils the one reply the command waits for and checks that
//   - the command returns the result code its path gives,
//   - it returns within its time bound (bounds.h),
//   - no byte of the spoiled reply reaches the next exchange: once every delayed byte has
//     come, the next read ("NA", the number of alerts) must give exactly 3,
//   - the command succeeds again, with the right value, once the fault has cleared.
// Modes that take the line down (a hang-up, a hang-up in the middle of a reply, the device
// disappearing while the port is open) reopen the port with ReopenPort once the line is back.
//
// Each mode runs on an instance of its own, and instances run side by side. The program
// prints the matrix and exits with 1 when any cell fails. Usage: fault_matrix [JOBS]
#include "bounds.h"
#include "hostlog.h"
#include "instance.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

using namespace faults;

constexpr std::int32_t kReplyTimeout = 20; // units of 10 ms, put on the port for item commands
constexpr double kReplyTimeoutMs = 200;
constexpr std::int16_t kAlerts = 3;
constexpr auto kDeviceGoneFor = 2500ms;

enum Column { kColdStart, kReadLoop, kReadWord, kBlockRead, kWrite, kColumns };

constexpr std::array<const char *, kColumns> kCommands = {
    "ColdStart", "SingleRead L01S1", "SingleRead NL", "BlockRead L02S0", "SingleWrite L01S1"};
// The request each column's fault spoils; ColdStart's is the last step of the dialogue.
constexpr std::array<const char *, kColumns> kPatterns = {"DMVX", "L01S?", "XC", "SL?", "L01S=*"};

struct Mode {
    const char *name;
    const char *rule; // the fault kind and its options; empty: the device disappears
    // The result per column; for ColdStart, which returns 0 with its port open, the result of
    // its adapter dialogue.
    std::array<std::int32_t, kColumns> codes;
    int settleMs; // until the last delayed byte of the spoiled reply has come
    bool lineDrops;

    bool DeviceGone() const { return rule[0] == '\0'; }
};

// The dialogue judges each reply only by being empty or beginning with "?": a step whose
// reply came in part, garbled or late in the 2 s dialogue timeout passes.
const std::array<Mode, 15> kModes = {{
    {"silence", "silence", {2, 2, 2, 2, 2}, 0, false},
    {"refuse", "refuse", {1, 1, 1, 1, 1}, 0, false},
    {"empty", "empty", {0, 1, 1, 1, 1}, 0, false},
    {"partial", "partial", {0, 2, 2, 2, 1}, 0, false},
    {"split", "split", {0, 2, 2, 2, 1}, 500, false},
    {"garbage", "garbage", {0, 1, 1, 1, 1}, 0, false},
    {"noterm", "noterm", {0, 2, 2, 2, 0}, 0, false},
    {"flood", "flood", {0, 2, 2, 2, 1}, 0, false},
    {"late", "late", {2, 2, 2, 2, 2}, 3000, false},
    {"trailing", "trailing", {0, 0, 0, 0, 0}, 0, false},
    {"hangup", "hangup", {2, 2, 2, 2, 2}, 0, true},
    // Another item's reply first: thrown away, and the command's own reply read after it; when
    // the own one comes too late, the command fails as on a silent line.
    {"foreign", "foreign to=L02S?", {0, 0, 0, 0, 0}, 100, false},
    {"foreign alone", "foreign to=L02S? delay=2500", {2, 2, 2, 2, 2}, 2500, false},
    {"hangup mid-reply", "hangup bytes=4", {0, 2, 2, 2, 1}, 0, true},
    {"device gone", "", {2, 2, 2, 2, 2}, 0, true},
}};

struct Cell {
    std::string code;
    std::string expected;
    double boundMs = 0;
    double measuredMs = 0;
    bool clean = false;
    bool recovered = false;
    std::string problem;

    bool Passed() const {
        return code == expected && bounds::Within(measuredMs, boundMs) && clean && recovered &&
               problem.empty();
    }
};

std::string logPath;

// The result of the adapter dialogue that the driver numbered number logged after offset.
std::int32_t DialogueResult(std::int32_t number, std::streamoff offset) {
    std::ifstream log(logPath);
    log.seekg(offset);
    char prefix[48];
    std::snprintf(prefix, sizeof prefix, "ZEL%02d: EM: ConfigureAdapter(): fail rc = ", number);
    for (std::string line; std::getline(log, line);) {
        if (const auto at = line.find(prefix); at != std::string::npos) {
            return std::atoi(line.c_str() + at + std::strlen(prefix));
        }
    }
    return 0;
}

std::streamoff LogSize() {
    std::error_code error;
    const auto size = std::filesystem::file_size(logPath, error);
    return error ? 0 : static_cast<std::streamoff>(size);
}

// Spoils the next reply to the column's request, or takes the device away.
void Inject(Instance &instance, const Mode &mode, Column column) {
    if (mode.DeviceGone()) {
        instance.Simulator().HangUp(kDeviceGoneFor);
        instance.AwaitLine(false);
        return;
    }
    instance.Simulator().Fault(std::string(kPatterns[column]) + ' ' + mode.rule + " count=1");
}

struct Run {
    std::int32_t code;
    bool valueRight;
};

Run RunCommand(Instance &instance, Column column) {
    switch (column) {
    case kReadLoop: {
        Item item = SetPoint();
        const std::int32_t code = instance.Read(item);
        return {code, item.Float() == 125.0f};
    }
    case kReadWord: {
        Item item = LoopCount();
        const std::int32_t code = instance.Read(item);
        return {code, item.Word() == 29};
    }
    case kBlockRead: {
        Item item = LoopBlock();
        const std::int32_t code = instance.Read(item, EM_CMD_BLOCK_READ);
        return {code, std::vector<std::int16_t>(item.values.begin(), item.values.begin() + 4) ==
                          std::vector<std::int16_t>{27, 27, 50, 0}};
    }
    default: {
        const std::int32_t code = instance.WriteSetPoint(125.0f);
        return {code, instance.Simulator().Get("L01S") == "12.5"};
    }
    }
}

// The next exchange after a fault must see the instrument's reply and nothing else.
bool ProbeIsClean(Instance &instance) {
    Item alerts = AlertCount();
    return instance.Read(alerts) == 0 && alerts.Word() == kAlerts;
}

// After the line went down: the port cannot be opened while the device is away, and once
// it is back ReopenPort and WarmStart bring the instance back.
void ComeBack(Instance &instance, Cell &cell) {
    if (!instance.LineUp() && instance.Reopen() != 2) {
        cell.problem = "ReopenPort without a device did not fail with 2";
    }
    if (!instance.Reconnect()) {
        cell.problem = "ReopenPort and WarmStart failed once the line was back";
    }
}

Cell ColdStartCell(Instance &instance, const Mode &mode) {
    Cell cell;
    cell.expected = mode.DeviceGone() ? "2" : "0, dialogue " + std::to_string(mode.codes[0]);
    cell.boundMs = mode.DeviceGone() ? 0 : bounds::Dialogue();
    Inject(instance, mode, kColdStart);
    const std::streamoff logStart = LogSize();
    const auto start = Clock::now();
    const std::int32_t result = instance.ColdStart();
    cell.measuredMs = MsSince(start);
    const DriverState &state = instance.Driver().state;
    if (result != 0) {
        cell.code = std::to_string(result);
    } else {
        const std::int32_t dialogue = DialogueResult(instance.Driver().driverNumber, logStart);
        cell.code = "0, dialogue " + std::to_string(dialogue);
        if (state.adapterReady != (dialogue == 0 ? 1 : 0)) {
            cell.problem = "the adapter-ready flag does not match the dialogue";
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(mode.settleMs));
    if (mode.DeviceGone()) {
        // No port was opened: the next ColdStart, once the device is back, is the recovery.
        cell.recovered =
            instance.AwaitLine(true) && instance.ColdStart() == 0 && state.adapterReady == 1;
        cell.clean = ProbeIsClean(instance);
        return cell;
    }
    if (mode.lineDrops && !(instance.AwaitLine(true) && instance.Reopen() == 0)) {
        cell.problem = "ReopenPort failed once the line was back";
    }
    cell.clean = ProbeIsClean(instance);
    cell.recovered = instance.WarmStart() == 0 && state.adapterReady == 1;
    return cell;
}

Cell ItemCell(Instance &instance, const Mode &mode, Column column) {
    Cell cell;
    cell.expected = std::to_string(mode.codes[column]);
    Inject(instance, mode, column);
    const auto start = Clock::now();
    const Run run = RunCommand(instance, column);
    cell.measuredMs = MsSince(start);
    cell.code = std::to_string(run.code);
    cell.boundMs = column == kWrite ? bounds::Write(run.code, kReplyTimeoutMs)
                                    : bounds::Read(run.code, kReplyTimeoutMs);
    std::this_thread::sleep_for(std::chrono::milliseconds(mode.settleMs));
    if (mode.lineDrops) {
        ComeBack(instance, cell);
    }
    cell.clean = ProbeIsClean(instance);
    const Run again = RunCommand(instance, column);
    cell.recovered = again.code == 0 && again.valueRight;
    return cell;
}

std::array<Cell, kColumns> RunMode(const Mode &mode, std::int32_t number) {
    std::array<Cell, kColumns> cells;
    try {
        Instance instance(number, 1);
        cells[kColdStart] = ColdStartCell(instance, mode);
        if (!instance.UseReplyTimeout(kReplyTimeout)) {
            cells[kColdStart].problem = "the short reply timeout could not be set";
            return cells;
        }
        for (int column = kReadLoop; column < kColumns; ++column) {
            cells[column] = ItemCell(instance, mode, static_cast<Column>(column));
        }
    } catch (const std::exception &error) {
        cells[kColdStart].problem = error.what();
    }
    return cells;
}

const char *YesNo(bool value) {
    return value ? "yes" : "no";
}

int PrintMatrix(const std::vector<std::array<Cell, kColumns>> &rows) {
    std::printf("%-17s %-18s %-15s %-15s %8s %9s %5s %9s  %s\n", "mode", "command", "code",
                "expected", "bound ms", "taken ms", "clean", "recovered", "verdict");
    int failed = 0;
    for (std::size_t row = 0; row < rows.size(); ++row) {
        for (int column = 0; column < kColumns; ++column) {
            const Cell &cell = rows[row][column];
            failed += cell.Passed() ? 0 : 1;
            std::printf("%-17s %-18s %-15s %-15s %8.0f %9.0f %5s %9s  %s%s\n", kModes[row].name,
                        kCommands[column], cell.code.c_str(), cell.expected.c_str(), cell.boundMs,
                        cell.measuredMs, YesNo(cell.clean), YesNo(cell.recovered),
                        cell.Passed() ? "ok" : "FAILED ", cell.problem.c_str());
        }
    }
    return failed;
}

} // namespace

int main(int argc, char **argv) {
    const int jobs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 4;
    logPath = (std::filesystem::temp_directory_path() /
               ("fault_matrix_" + std::to_string(::getpid()) + ".log"))
                  .string();
    std::filesystem::remove(logPath);
    if (hostlog_open(logPath.c_str()) != 0) {
        std::fprintf(stderr, "cannot open the log %s\n", logPath.c_str());
        return 1;
    }
    std::printf("bounds: reply timeout %.0f ms, dialogue timeout %.0f ms; exchange %.0f ms, "
                "resetError %.0f ms, dialogue %.0f ms; tolerance %.0f ms + %.0f %%\n",
                kReplyTimeoutMs, bounds::kDialogueTimeoutMs, bounds::Exchange(kReplyTimeoutMs),
                bounds::kResetErrorMs, bounds::Dialogue(), bounds::kToleranceMs,
                bounds::kToleranceShare * 100);
    const std::size_t descriptorsBefore = OpenDescriptors();
    const auto start = Clock::now();

    std::vector<std::array<Cell, kColumns>> rows(kModes.size());
    std::atomic<std::size_t> next{0};
    std::vector<std::thread> workers;
    workers.reserve(static_cast<std::size_t>(jobs));
    for (int i = 0; i < jobs; ++i) {
        workers.emplace_back([&] {
            for (std::size_t row; (row = next++) < kModes.size();) {
                rows[row] = RunMode(kModes[row], static_cast<std::int32_t>(10 + row));
            }
        });
    }
    for (std::thread &worker : workers) {
        worker.join();
    }

    const int failed = PrintMatrix(rows);
    const std::size_t descriptorsAfter = OpenDescriptors();
    std::printf("%zu cells, %d failed, in %.1f s; descriptors %zu before, %zu after\n",
                kModes.size() * kColumns, failed, MsSince(start) / 1000, descriptorsBefore,
                descriptorsAfter);
    hostlog_open(nullptr);
    if (failed == 0 && descriptorsAfter == descriptorsBefore) {
        std::filesystem::remove(logPath);
        return 0;
    }
    std::printf("driver log: %s\n", logPath.c_str());
    return 1;
}
