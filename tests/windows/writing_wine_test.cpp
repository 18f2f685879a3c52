// A write with confirmation under Wine: EM.dll, loaded as a host loads it, changes a
// tabulated parameter of the EM-1 simulator on COM5 (linked by with_simulator.sh), whose
// write to that letter asks "Y/N" first. The driver's log goes to ZEL_LOG_FILE.
#include "item_write.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

TEST(WritingUnderWine, ConfirmedWriteIsAcknowledged) {
    const char *log = std::getenv("ZEL_LOG_FILE");
    ASSERT_NE(log, nullptr) << "ZEL_LOG_FILE names the driver's log file";
    std::remove(log);
    HostedDriver driver;
    std::string error;
    ASSERT_TRUE(driver.Load(ExecutableFolder() + DriverFileName(), error)) << error;
    ASSERT_EQ(driver.ColdStart("COM5", 100), 0);
    ASSERT_EQ(driver.state.adapterReady, 1);

    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(WriteWord(driver, "L01P0", EM_CLASS_LOOP, 30), 0) << ReadTextFile(log);
    std::printf("SingleWrite with confirmation took %lld ms\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::steady_clock::now() - started)
                                           .count()));
    EXPECT_EQ(driver.state.replyTerminator, 3);
    EXPECT_EQ(ReadTextFile(log).find("Failed"), std::string::npos) << ReadTextFile(log);
}

} // namespace
