// Reading under Wine: EM.dll, loaded as a host loads it, reads one item of each class and
// a block over COM5, which with_simulator.sh links to the EM-1 simulator, in real time.
// The simulator holds L01S at 12.5 and the alerts CC and "L03 LOW ALARM".
#include "hosted_driver.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

class ReadingUnderWine : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(driver.Load(ExecutableFolder() + DriverFileName(), error)) << error;
        ASSERT_EQ(driver.ColdStart("COM5", 100), 0);
        ASSERT_EQ(driver.state.adapterReady, 1);
    }

    // Defines the item (CheckItem for a block) and reads it with the given command.
    std::int32_t Read(const char *address, std::int32_t dataType, std::int32_t count,
                      std::int32_t command) {
        std::strncpy(text, address, sizeof text - 1);
        ItemDefinition definition{};
        definition.address = text;
        definition.dataType = dataType;
        definition.count = count;
        const std::int32_t define = count > 1 ? EM_CMD_CHECK_ITEM : EM_CMD_DEFINE_ITEM;
        EXPECT_EQ(driver.Call(define, &definition), 0) << address;
        ItemRequest request{
            text, {},    definition.itemClass, definition.index, {}, definition.dataType, count,
            0,    values};
        return driver.Call(command, &request);
    }
    std::string Log() const {
        const char *path = std::getenv("ZEL_LOG_FILE");
        return path == nullptr ? std::string() : ReadTextFile(path);
    }

    HostedDriver driver;
    char text[33] = {};
    std::int16_t values[32] = {};
};

TEST_F(ReadingUnderWine, OneItemOfEachClass) {
    ASSERT_EQ(Read("L01S1", EM_TYPE_FLOAT, 1, EM_CMD_SINGLE_READ), 0) << Log();
    float setPoint;
    std::memcpy(&setPoint, values, sizeof setPoint);
    EXPECT_EQ(setPoint, 125.0f);

    ASSERT_EQ(Read("M05V1", EM_TYPE_INT16, 1, EM_CMD_SINGLE_READ), 0) << Log();
    EXPECT_EQ(values[1], 75);

    ASSERT_EQ(Read("A20", EM_TYPE_BIT, 1, EM_CMD_SINGLE_READ), 0) << Log();
    EXPECT_EQ(values[1], 1) << "LOW ALARM";

    ASSERT_EQ(Read("NL", EM_TYPE_INT16, 1, EM_CMD_SINGLE_READ), 0) << Log();
    EXPECT_EQ(values[1], 29);
}

TEST_F(ReadingUnderWine, BlockOfLoopValues) {
    ASSERT_EQ(Read("L02S0", EM_TYPE_INT16, 4, EM_CMD_BLOCK_READ), 0) << Log();
    EXPECT_EQ(values[0], 27);
    EXPECT_EQ(values[1], 27);
    EXPECT_EQ(values[2], 50);
    EXPECT_EQ(values[3], 0) << "status OK";
}

} // namespace
