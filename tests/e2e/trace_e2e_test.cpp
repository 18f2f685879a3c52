// The line trace end to end: the built driver, loaded as a host loads it, with EM_TRACE set,
// brings an instance up against the simulator and reads one item; the trace file then holds
// the exchanges as they passed on the line, read back with the trace's grammar. Real time.
#include "em1sim/simulator.h"
#include "hosted_driver.h"
#include "serial/trace_grammar.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string PortName(const em1sim::Simulator &simulator) {
    const std::string path = simulator.SlavePath();
    return path.rfind("/dev/", 0) == 0 ? path.substr(5) : path;
}

struct TraceRecord {
    std::string time;
    std::string port;
    std::string shown; // the tag and the quoted bytes as escaped, or "--" and the event
};

std::string Shown(const TraceEntry &entry) {
    switch (entry.tag) {
    case TraceTag::kSent:
        return "TX \"" + std::string(entry.text) + "\"";
    case TraceTag::kReceived:
        return "RX \"" + std::string(entry.text) + "\"";
    case TraceTag::kPurged:
        return "PURGED \"" + std::string(entry.text) + "\"";
    default:
        return "-- " + std::string(entry.text);
    }
}

// Each line read by the grammar, after the version line that starts the file.
std::vector<TraceRecord> ParseTrace(const std::string &text) {
    std::vector<TraceRecord> records;
    std::istringstream lines(text);
    std::string line;
    unsigned version = 0;
    TraceEntry entry;
    EXPECT_TRUE(std::getline(lines, line) &&
                ReadTraceLine(line, version, entry) == TraceLineKind::kVersion &&
                version == kTraceVersion)
        << line;
    while (std::getline(lines, line)) {
        EXPECT_EQ(ReadTraceLine(line, version, entry), TraceLineKind::kEntry) << line;
        records.push_back({std::string(entry.time), std::string(entry.port), Shown(entry)});
    }
    return records;
}

class TraceEndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        tracePath = ::testing::TempDir() + "trace_e2e_" + std::to_string(getpid()) + ".trace";
        std::remove(tracePath.c_str());
        setenv("EM_TRACE", tracePath.c_str(), 1);
        std::string error;
        ASSERT_TRUE(driver.Load(EM_DRIVER_PATH, error)) << error;
    }
    void TearDown() override {
        unsetenv("EM_TRACE");
        std::remove(tracePath.c_str());
    }

    HostedDriver driver;
    std::string tracePath;
};

TEST_F(TraceEndToEnd, RecordsEveryRequestAndReplyOfTheStartUpAndARead) {
    em1sim::Options options;
    options.commands = {"fault DF trailing bytes=5"};
    em1sim::Simulator simulator(options);
    const std::string port = PortName(simulator);
    simulator.Set("L01S", "12.5");
    ASSERT_EQ(driver.ColdStart(port), 0);
    ASSERT_EQ(driver.state.adapterReady, 1);
    char address[] = "L01S1";
    ItemDefinition item{};
    item.address = address;
    item.dataType = EM_TYPE_FLOAT;
    ASSERT_EQ(driver.Call(EM_CMD_DEFINE_ITEM, &item), 0);
    float value = 0;
    ItemRequest read{address, {}, item.itemClass, item.index, {}, item.dataType, 1, 0, &value};
    ASSERT_EQ(driver.Call(EM_CMD_SINGLE_READ, &read), 0);
    ASSERT_EQ(driver.Call(EM_CMD_SHUTDOWN), 0);

    struct stat status {};
    ASSERT_EQ(stat(tracePath.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    const std::string text = ReadTextFile(tracePath);
    const std::vector<TraceRecord> records = ParseTrace(text);
    std::vector<std::string> seen;
    for (const TraceRecord &record : records) {
        EXPECT_EQ(record.port, port);
        seen.push_back(record.shown);
    }
    // The bytes that trail the DF reply are thrown away by the purge after it.
    const std::vector<std::string> expected = {
        "-- open 9600 8N1 flags 0x0200",
        R"(TX "S?\r")",
        R"(RX "***\r\x03")",
        R"(TX "DF\r")",
        R"(RX "***\r\x03")",
        R"(PURGED "EXTRA")",
        R"(TX "DLSV%X\r")",
        R"(RX "DLSV%X ***\r\n")",
        R"(TX "DMVX\r")",
        R"(RX "DMVX ***\r\n")",
        R"(TX "L01S?\r")",
        R"(RX "L01S=12.5\r\x03")",
        "-- close",
    };
    EXPECT_EQ(seen, expected) << text;
    for (std::size_t i = 1; i < records.size(); ++i) {
        EXPECT_LE(records[i - 1].time, records[i].time) << "time stamps run forward";
    }
}

} // namespace
