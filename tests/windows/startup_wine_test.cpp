// Start-up and port commands under Wine: EM.dll, loaded as a host loads it, brings an
// instance up on COM5, which with_simulator.sh links to the EM-1 simulator, in real time.
// The driver's log goes to the file that ZEL_LOG_FILE names.
//
// StartupUnderWine runs against a well-behaved simulator, StartupUnderWineRefused against
// one that refuses "DMVX"; each suite runs in a run of its own (--gtest_filter).
#include "driver_library.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace {

constexpr LineSettings kLine{9600, 8, 0, 0};

class DriverOnCom5 : public ::testing::Test {
  protected:
    void SetUp() override {
        const char *log = std::getenv("ZEL_LOG_FILE");
        ASSERT_NE(log, nullptr) << "ZEL_LOG_FILE names the driver's log file";
        logPath = log;
        std::remove(logPath.c_str());
        std::string error;
        ASSERT_TRUE(LoadDriverLibrary(ExecutableFolder() + DriverFileName(), driver, error))
            << error;
    }
    void TearDown() override {
        if (driver.zelMain != nullptr) {
            Call(EM_CMD_SHUTDOWN);
            UnloadDriverLibrary(driver);
        }
    }

    std::int32_t Call(std::int32_t command, void *params = nullptr) {
        DriverCall call{&state, command, 1, 0, params};
        return driver.zelMain(&call);
    }
    std::int32_t ColdStart() {
        ColdStartParameters params{};
        std::strcpy(params.portName, "COM5");
        params.enabled = 1;
        params.replyTimeout = 100;
        params.line = kLine;
        const auto start = std::chrono::steady_clock::now();
        const std::int32_t result = Call(EM_CMD_COLD_START, &params);
        std::printf("ColdStart took %lld ms\n",
                    static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                               std::chrono::steady_clock::now() - start)
                                               .count()));
        return result;
    }
    std::string Log() const {
        std::ifstream in(logPath);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    DriverLibrary driver;
    DriverState state{};
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

    ReopenPortParameters params{};
    std::strcpy(params.portName, "COM5");
    params.replyTimeout = 150;
    params.line = kLine;
    EXPECT_EQ(Call(EM_CMD_REOPEN_PORT, &params), 0);
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
