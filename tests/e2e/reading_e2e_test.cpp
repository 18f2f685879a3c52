// Defining and reading items end to end: the built driver, loaded as a host loads it,
// against the simulator on a pseudo-terminal, in real time.
#include "em1sim/simulator.h"
#include "hosted_driver.h"
#include "hostlog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

std::string PortName(const em1sim::Simulator &simulator) {
    const std::string path = simulator.SlavePath();
    return path.rfind("/dev/", 0) == 0 ? path.substr(5) : path;
}

// An item as a host keeps it: its address buffer, what DefineItem or CheckItem returned,
// and its value buffer.
struct HostItem {
    char address[33] = {};
    ItemDefinition definition{};
    std::int16_t values[32] = {};

    ItemRequest Request() {
        return ItemRequest{address,          {}, definition.itemClass,
                           definition.index, {}, definition.dataType,
                           definition.count, 0,  values};
    }
    float Float() const {
        float f;
        std::memcpy(&f, values, sizeof f);
        return f;
    }
    std::int16_t Word() const { return values[1]; }
};

class ReadingEndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        logPath = ::testing::TempDir() + "reading_e2e_" + std::to_string(getpid()) + ".log";
        std::remove(logPath.c_str());
        ASSERT_EQ(hostlog_open(logPath.c_str()), 0);
        std::string error;
        ASSERT_TRUE(driver.Load(EM_DRIVER_PATH, error)) << error;
        simulator.Set("L01S", "12.5");
        simulator.AddAlert("CC");
        simulator.AddAlert("L03 LOW ALARM");
        ASSERT_EQ(driver.ColdStart(PortName(simulator)), 0);
        ASSERT_EQ(driver.state.adapterReady, 1);
    }
    void TearDown() override {
        hostlog_open(nullptr);
        std::remove(logPath.c_str());
    }

    // The log's lines without their time stamps: "[level] text".
    std::vector<std::string> LogLines() const {
        std::vector<std::string> lines;
        const std::string log = ReadTextFile(logPath);
        for (std::size_t start = 0, end; (end = log.find('\n', start)) != std::string::npos;
             start = end + 1) {
            const std::size_t level = log.find(" [", start);
            lines.push_back(log.substr(level + 1, end - level - 1));
        }
        return lines;
    }

    // DefineItem for a single value, CheckItem for a block of count values.
    HostItem Define(const char *address, std::int32_t dataType, std::int32_t count = 1) {
        HostItem item;
        std::strncpy(item.address, address, sizeof item.address - 1);
        item.definition.address = item.address;
        item.definition.dataType = dataType;
        item.definition.count = count;
        const std::int32_t command = count > 1 ? EM_CMD_CHECK_ITEM : EM_CMD_DEFINE_ITEM;
        EXPECT_EQ(driver.Call(command, &item.definition), 0) << address;
        return item;
    }
    std::int32_t Read(HostItem &item, std::int32_t command = EM_CMD_SINGLE_READ) {
        ItemRequest request = item.Request();
        return driver.Call(command, &request);
    }
    std::int16_t ReadWord(const char *address) {
        HostItem item = Define(address, EM_TYPE_INT16);
        EXPECT_EQ(Read(item), 0) << address << "\n" << ReadTextFile(logPath);
        return item.Word();
    }

    em1sim::Simulator simulator;
    HostedDriver driver;
    std::string logPath;
};

TEST_F(ReadingEndToEnd, LoopModuleAndAlertItems) {
    HostItem setPoint = Define("l01s1", EM_TYPE_FLOAT);
    EXPECT_STREQ(setPoint.address, "L01S1");
    EXPECT_EQ(setPoint.definition.itemClass, 'L');
    EXPECT_EQ(setPoint.definition.width, 32);
    ASSERT_EQ(Read(setPoint), 0);
    EXPECT_EQ(setPoint.Float(), 125.0f);

    EXPECT_EQ(ReadWord("L01M0"), 3) << "AUTO";
    EXPECT_EQ(ReadWord("L01X0"), 0) << "OK";
    EXPECT_EQ(ReadWord("L01P0"), 45) << "a stepped value";
    EXPECT_EQ(ReadWord("M05V1"), 75);
    simulator.Set("M05X", "HD");
    EXPECT_EQ(ReadWord("M05X0"), 8);

    HostItem lowAlarm = Define("A20", EM_TYPE_BIT);
    ASSERT_EQ(Read(lowAlarm), 0);
    EXPECT_EQ(lowAlarm.Word(), 1);
    HostItem quiet = Define("A05", EM_TYPE_BIT);
    ASSERT_EQ(Read(quiet), 0);
    EXPECT_EQ(quiet.Word(), 0);
}

TEST_F(ReadingEndToEnd, SpecialWords) {
    EXPECT_EQ(ReadWord("NL"), 29) << "loops";
    EXPECT_EQ(ReadWord("NM"), 35) << "modules";
    EXPECT_EQ(ReadWord("NA"), 2) << "alerts";
    EXPECT_EQ(ReadWord("XS0"), 214) << "firmware REV 2.14";
    EXPECT_EQ(ReadWord("S?"), 0);
    simulator.AddAlert("ROM ERROR");
    EXPECT_EQ(ReadWord("S?"), 1);
    EXPECT_EQ(ReadWord("DISP"), 0);
    EXPECT_EQ(ReadWord("INIT"), 1);
    const std::size_t requests = simulator.TraceEntries().size();
    EXPECT_EQ(ReadWord("SX"), 0);
    EXPECT_EQ(simulator.TraceEntries().size(), requests) << "SX, DISP and INIT send nothing";
}

TEST_F(ReadingEndToEnd, BlockOfEachClass) {
    HostItem loop = Define("L02S0", EM_TYPE_INT16, 4);
    ASSERT_EQ(Read(loop, EM_CMD_BLOCK_READ), 0) << ReadTextFile(logPath);
    EXPECT_EQ(std::vector<std::int16_t>(loop.values, loop.values + 4),
              (std::vector<std::int16_t>{27, 27, 50, 0}));

    HostItem lastLoop = Define("L29S1", EM_TYPE_INT16, 4);
    ASSERT_EQ(Read(lastLoop, EM_CMD_BLOCK_READ), 0);
    EXPECT_EQ(lastLoop.values[0], 540);

    HostItem module = Define("M03V1", EM_TYPE_INT16, 2);
    ASSERT_EQ(Read(module, EM_CMD_BLOCK_READ), 0);
    EXPECT_EQ(std::vector<std::int16_t>(module.values, module.values + 2),
              (std::vector<std::int16_t>{45, 0}));

    HostItem alerts = Define("A00", EM_TYPE_BIT, 27);
    ASSERT_EQ(Read(alerts, EM_CMD_BLOCK_READ), 0);
    std::vector<std::int16_t> expected(27, 0);
    expected[2] = 1;
    expected[20] = 1;
    EXPECT_EQ(std::vector<std::int16_t>(alerts.values, alerts.values + 27), expected);
}

TEST_F(ReadingEndToEnd, RefusedItemRecoversAndLogs) {
    HostItem missing = Define("L40S0", EM_TYPE_INT16);
    EXPECT_EQ(Read(missing), 1);
    const std::vector<std::string> expected = {"[64] ZEL01: EM: resetError(): success rc = 0",
                                               "[32] ZEL1: EM: SingleRead(): Failed rc = 1",
                                               "[64] \trequest: L40S?\r", "[64] \treply: ?\r\x03"};
    const std::vector<std::string> lines = LogLines();
    EXPECT_NE(std::search(lines.begin(), lines.end(), expected.begin(), expected.end()),
              lines.end())
        << ReadTextFile(logPath);
    EXPECT_EQ(ReadWord("L01X0"), 0) << "the next read succeeds";
}

// How long a read takes is the benchmark's to measure; a read waits at least its pauses.
TEST_F(ReadingEndToEnd, SingleReadWaitsTheTwoPauses) {
    HostItem item = Define("L01S1", EM_TYPE_FLOAT);
    for (int i = 0; i < 3; ++i) {
        const auto start = std::chrono::steady_clock::now();
        ASSERT_EQ(Read(item), 0);
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - start;
        EXPECT_GE(took.count(), 250.0) << "the two pauses of the exchange";
        EXPECT_LT(took.count(), 10000.0);
    }
}

} // namespace
