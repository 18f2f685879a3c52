// Writing items end to end: the built driver, loaded as a host loads it, changes the
// simulator's parameters over a pseudo-terminal, in real time.
#include "em1sim/simulator.h"
#include "hostlog.h"
#include "item_write.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

class WritingEndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        logPath = ::testing::TempDir() + "writing_e2e_" + std::to_string(getpid()) + ".log";
        std::remove(logPath.c_str());
        ASSERT_EQ(hostlog_open(logPath.c_str()), 0);
        std::string error;
        ASSERT_TRUE(driver.Load(EM_DRIVER_PATH, error)) << error;
        const std::string path = simulator.SlavePath();
        ASSERT_EQ(driver.ColdStart(path.substr(path.rfind("pts/"))), 0);
        ASSERT_EQ(driver.state.adapterReady, 1);
    }
    void TearDown() override {
        hostlog_open(nullptr);
        std::remove(logPath.c_str());
    }

    std::string Log() const { return ReadTextFile(logPath); }

    em1sim::Simulator simulator;
    HostedDriver driver;
    std::string logPath;
};

TEST_F(WritingEndToEnd, WrittenValuesReadBack) {
    simulator.Set("L01M", "MANUAL");
    EXPECT_EQ(WriteWord(driver, "L01S1", EM_CLASS_LOOP, 125), 0);
    EXPECT_EQ(simulator.Get("L01S"), "12.5");
    EXPECT_EQ(WriteWord(driver, "L01M0", EM_CLASS_LOOP, 3), 0);
    EXPECT_EQ(simulator.Get("L01M"), "AUTO");
    EXPECT_EQ(WriteWord(driver, "L02X0", EM_CLASS_LOOP, 3), 0);
    EXPECT_EQ(simulator.Get("L02X"), "BI");
    EXPECT_EQ(WriteWord(driver, "M03V3", EM_CLASS_MODULE, 65535), 0);
    EXPECT_EQ(simulator.Get("M03V"), "65.535");
    EXPECT_EQ(WriteWord(driver, "DISP", EM_CLASS_SPECIAL, 1), 0);
    EXPECT_EQ(simulator.Command("display"), "TURN KEY OFF");
    simulator.AddAlert("CC");
    EXPECT_EQ(WriteWord(driver, "SX", EM_CLASS_SPECIAL, 0), 0);
    EXPECT_EQ(simulator.Command("alerts"), "none");
    EXPECT_EQ(WriteWord(driver, "S?", EM_CLASS_SPECIAL, 0), 0) << "sends SI";
    EXPECT_EQ(driver.state.replyTerminator, 3);
    EXPECT_EQ(Log().find("Failed"), std::string::npos) << Log();
}

TEST_F(WritingEndToEnd, ConfirmedTokenReadsBackAndItsTimeIsMeasured) {
    std::vector<double> seconds;
    for (int i = 0; i < 10; ++i) {
        const std::uint16_t value = i % 2 == 0 ? 30 : 45;
        const auto started = std::chrono::steady_clock::now();
        ASSERT_EQ(WriteWord(driver, "L01P0", EM_CLASS_LOOP, value), 0) << Log();
        seconds.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
        EXPECT_EQ(simulator.Get("L01P"), i % 2 == 0 ? "30.0" : "45.0");
    }
    std::ranges::sort(seconds);
    std::printf("SingleWrite with confirmation: median %.3f s over %zu writes\n",
                (seconds[4] + seconds[5]) / 2, seconds.size());
    EXPECT_NE(simulator.TraceText().find("RX \"Y\\r\""), std::string::npos);
}

TEST_F(WritingEndToEnd, RefusedWriteIsFollowedByTheRecovery) {
    EXPECT_EQ(WriteWord(driver, "L01V0", EM_CLASS_LOOP, 5), 1) << "the measured value is read-only";
    const std::string log = Log();
    EXPECT_NE(log.find("[64] ZEL01: EM: resetError(): success rc = 0\n"), std::string::npos) << log;
    EXPECT_NE(log.find("[32] ZEL1: EM: SingleWrite(): Failed rc = 1\n"), std::string::npos) << log;
    EXPECT_NE(log.find("[64] \trequest: L01V=5\r\n"), std::string::npos) << log;
    EXPECT_EQ(driver.state.replyTerminator, 3);
}

} // namespace
