// The entry point and its command table as a host sees them.
#include "em_driver.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

extern "C" int LayoutCheckedInC(void);

namespace {

// Byte for byte, padding included: a record filled with memset and never copied.
bool SameBytes(const void *a, const void *b, std::size_t size) {
    return std::memcmp(a, b, size) == 0;
}

struct Poisoned {
    DriverState state;
    std::array<unsigned char, 64> params;
    Poisoned() {
        std::memset(&state, 0xAB, sizeof state);
        state.portHandle = 0;
        params.fill(0xCD);
    }
};

TEST(Dispatch, CodesWithoutHandlerAnswerOneAndTouchNothing) {
    for (const std::int32_t code : {0, 8, 9, 10, 16, 17, 1000, -1, INT32_MIN, INT32_MAX}) {
        Poisoned before;
        Poisoned after;
        DriverCall call{&after.state, code, 1, 0, after.params.data()};
        EXPECT_EQ(ZelMain(&call), 1) << "code " << code;
        EXPECT_TRUE(SameBytes(&before.state, &after.state, sizeof before.state)) << "code " << code;
        EXPECT_EQ(before.params, after.params) << "code " << code;
    }
}

TEST(Dispatch, NullCallOrMissingBlocksAreRefused) {
    EXPECT_EQ(ZelMain(nullptr), 1);
    for (const std::int32_t code : {1, 14, 15}) {
        DriverState state{};
        DriverCall call{&state, code, 1, 0, nullptr};
        EXPECT_EQ(ZelMain(&call), 1) << "code " << code;
    }
    for (const std::int32_t code : {1, 2, 11, 12, 13, 15}) {
        ColdStartParameters params{};
        DriverCall call{nullptr, code, 1, 0, &params};
        EXPECT_EQ(ZelMain(&call), 1) << "code " << code;
    }
}

TEST(Dispatch, ShutdownAndClosePortWithNoPortBothSucceed) {
    for (const std::int32_t code : {EM_CMD_SHUTDOWN, EM_CMD_CLOSE_PORT}) {
        DriverState state{};
        state.enabled = 1;
        state.adapterReady = 1;
        DriverCall call{&state, code, 1, 0, nullptr};
        EXPECT_EQ(ZelMain(&call), 0);
        EXPECT_EQ(state.enabled, 1);
        EXPECT_EQ(state.adapterReady, 1);
    }
}

TEST(Layout, RecordsKeepTheirSizesOnEveryTarget) {
    EXPECT_EQ(sizeof(PortSettings), 22u);
    EXPECT_EQ(sizeof(LineSettings), 8u);
    EXPECT_EQ(offsetof(DriverState, replyTimeout), 0u);
    EXPECT_EQ(offsetof(DriverState, portHandle), sizeof(void *));
    EXPECT_EQ(offsetof(ColdStartParameters, line), 20u);
    EXPECT_EQ(offsetof(ReopenPortParameters, line), 16u);
    EXPECT_EQ(LayoutCheckedInC(), static_cast<int>(sizeof(DriverState)));
    if (sizeof(void *) == 4) {
        EXPECT_EQ(sizeof(DriverState), 40u);
        EXPECT_EQ(sizeof(DriverCall), 20u);
        EXPECT_EQ(sizeof(DriverInfo), 32u);
    }
}

} // namespace
