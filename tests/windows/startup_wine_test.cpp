// Start-up and port commands under Wine: EM.dll, loaded as a host loads it, brings an
// instance up on COM5, which with_simulator.sh links to the EM-1 simulator, in real time.
// The driver's log goes to the file that ZEL_LOG_FILE names.
//
// StartupUnderWine runs against a well-behaved simulator, StartupUnderWineRefused against
// one that refuses "DMVX"; each suite runs in a run of its own (--gtest_filter).
#include "hosted_driver.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

class DriverOnCom5 : public ::testing::Test {
  protected:
    void SetUp() override {
        const char *log = std::getenv("ZEL_LOG_FILE");
        ASSERT_NE(log, nullptr) << "ZEL_LOG_FILE names the driver's log file";
        logPath = log;
        std::remove(logPath.c_str());
        std::string error;
        ASSERT_TRUE(driver.Load(ExecutableFolder() + DriverFileName(), error)) << error;
    }

    std::int32_t Call(std::int32_t command) { return driver.Call(command); }
    std::int32_t ColdStart() {
        const auto start = std::chrono::steady_clock::now();
        const std::int32_t result = driver.ColdStart("COM5", 100);
        std::printf("ColdStart took %lld ms\n",
                    static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                               std::chrono::steady_clock::now() - start)
                                               .count()));
        return result;
    }
    std::string Log() const { return ReadTextFile(logPath); }

    HostedDriver driver;
    DriverState &state = driver.state;
    std::string logPath;
};

using StartupUnderWine = DriverOnCom5;
using StartupUnderWineRefused = DriverOnCom5;

TEST_F(StartupUnderWine, ColdStartWarmStartAndShutdown) {
    ASSERT_EQ(ColdStart(), 0);
    EXPECT_NE(state.portHandle, 0u);
    EXPECT_EQ(state.adapterReady, 1);
    EXPECT_EQ(state.replyTimeout, 100);
    EXPECT_NE(Log().find("[32] ZEL01: EM: ColdStart(): EM-1 Driver loaded successfully\n"),
              std::string::npos)
        << Log();

    EXPECT_EQ(Call(EM_CMD_WARM_START), 0);
    EXPECT_EQ(state.adapterReady, 1);
    EXPECT_NE(Log().find("[32] ZEL01: EM: WarmStart(): ended successfully rc = 0\n"),
              std::string::npos)
        << Log();

    EXPECT_EQ(Call(EM_CMD_SHUTDOWN), 0);
    EXPECT_EQ(state.portHandle, 0u);
}

// OpenPort and ReopenPort open the closed port again; a WarmStart over the reopened port
// proves it talks.
TEST_F(StartupUnderWine, OpenPortAndReopenPortReopen) {
    ASSERT_EQ(ColdStart(), 0);
    ASSERT_EQ(Call(EM_CMD_SHUTDOWN), 0);

    EXPECT_EQ(Call(EM_CMD_OPEN_PORT), 0);
    EXPECT_NE(state.portHandle, 0u);
    EXPECT_EQ(state.enabled, 1);
    EXPECT_EQ(Call(EM_CMD_CLOSE_PORT), 0);
    EXPECT_EQ(state.portHandle, 0u);

    EXPECT_EQ(driver.Reopen("COM5", 150), 0);
    EXPECT_NE(state.portHandle, 0u);
    EXPECT_EQ(state.replyTimeout, 150);
    EXPECT_EQ(Call(EM_CMD_WARM_START), 0);
}

TEST_F(StartupUnderWineRefused, RefusedDmvxLeavesTheAdapterNotReady) {
    ASSERT_EQ(ColdStart(), 0);
    EXPECT_NE(state.portHandle, 0u);
    EXPECT_EQ(state.adapterReady, 0);
    const std::string log = Log();
    EXPECT_NE(log.find("[32] ZEL01: EM: ConfigureAdapter(): fail rc = 1\n"), std::string::npos)
        << log;
    EXPECT_NE(log.find("[32] ZEL01: EM: ColdStart(): Fail rc = 1 \n"), std::string::npos) << log;
}

} // namespace
