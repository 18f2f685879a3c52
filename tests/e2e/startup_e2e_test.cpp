// Start-up and port commands end to end: the built driver, loaded as a host loads it,
// against the simulator on a pseudo-terminal, in real time.
#include "em1sim/simulator.h"
#include "hosted_driver.h"
#include "hostlog.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>

#include <unistd.h>

namespace {

// The driver takes names without "/" as devices under /dev/, so "pts/N" fits the field.
std::string PortName(const em1sim::Simulator &simulator) {
    const std::string path = simulator.SlavePath();
    return path.rfind("/dev/", 0) == 0 ? path.substr(5) : path;
}

std::size_t Count(const std::string &text, const std::string &what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

class StartupEndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        logPath = ::testing::TempDir() + "startup_e2e_" + std::to_string(getpid()) + ".log";
        std::remove(logPath.c_str());
        ASSERT_EQ(hostlog_open(logPath.c_str()), 0);
        std::string error;
        ASSERT_TRUE(driver.Load(EM_DRIVER_PATH, error)) << error;
    }
    void TearDown() override {
        hostlog_open(nullptr);
        std::remove(logPath.c_str());
    }

    std::int32_t Call(std::int32_t command) { return driver.Call(command); }
    std::string Log() const { return ReadTextFile(logPath); }

    HostedDriver driver;
    DriverState &state = driver.state;
    std::string logPath;
};

TEST_F(StartupEndToEnd, ColdStartBringsTheInstanceUpAndWarmStartRerunsTheDialogue) {
    em1sim::Simulator simulator;
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(driver.ColdStart(PortName(simulator)), 0);
    const auto elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started);
    std::printf("ColdStart on the fast path took %.3f s\n", elapsed.count());
    EXPECT_NE(state.portHandle, 0u);
    EXPECT_EQ(state.adapterReady, 1);
    EXPECT_EQ(state.replyTerminator, 3);
    EXPECT_NE(Log().find("[32] ZEL01: EM: ColdStart(): EM-1 Driver loaded successfully\n"),
              std::string::npos)
        << Log();

    EXPECT_EQ(Call(EM_CMD_WARM_START), 0);
    EXPECT_NE(Log().find("[32] ZEL01: EM: WarmStart(): ended successfully rc = 0\n"),
              std::string::npos);
    const std::string trace = simulator.TraceText();
    EXPECT_EQ(Count(trace, "DMVX"), 4u) << "two dialogues, request and reply each\n" << trace;
    EXPECT_EQ(Count(trace, "SI\\r"), 0u) << "the fast start skips the reset";
}

TEST_F(StartupEndToEnd, PortCommandsCloseAndReopenTheLine) {
    em1sim::Simulator first;
    em1sim::Simulator second;
    ASSERT_EQ(driver.ColdStart(PortName(first)), 0);

    EXPECT_EQ(Call(EM_CMD_SHUTDOWN), 0);
    EXPECT_EQ(state.portHandle, 0u);
    EXPECT_EQ(Call(EM_CMD_OPEN_PORT), 0);
    EXPECT_NE(state.portHandle, 0u);
    EXPECT_EQ(Call(EM_CMD_OPEN_PORT), 2) << "the line is already open, and open exclusively";
    EXPECT_NE(state.portHandle, 0u);

    EXPECT_EQ(driver.Reopen(PortName(second)), 0);
    EXPECT_STREQ(state.port.portName, PortName(second).c_str());
    EXPECT_EQ(Call(EM_CMD_WARM_START), 0) << "the dialogue now runs on the second line";
    EXPECT_NE(second.TraceText().find("DMVX"), std::string::npos);

    EXPECT_EQ(Call(EM_CMD_CLOSE_PORT), 0);
    EXPECT_EQ(driver.Reopen(PortName(first)), 0);
    EXPECT_EQ(Call(EM_CMD_WARM_START), 0);
}

TEST_F(StartupEndToEnd, RefusedModuleSetupLeavesTheAdapterNotReady) {
    em1sim::Options options;
    options.commands = {"fault DMVX refuse"};
    em1sim::Simulator simulator(options);
    EXPECT_EQ(driver.ColdStart(PortName(simulator)), 0);
    EXPECT_NE(state.portHandle, 0u);
    EXPECT_EQ(state.adapterReady, 0);
    const std::string log = Log();
    EXPECT_NE(log.find("[32] ZEL01: EM: ConfigureAdapter(): fail rc = 1\n"), std::string::npos)
        << log;
    EXPECT_NE(log.find("[32] ZEL01: EM: ColdStart(): Fail rc = 1 \n"), std::string::npos);
}

} // namespace
