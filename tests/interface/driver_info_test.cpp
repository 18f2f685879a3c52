// GetDriverInfo (command 14): every field, every call, and the banner byte for byte.
#include "em_driver.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// Byte for byte, padding included: a record filled with memset and never copied.
bool SameBytes(const void *a, const void *b, std::size_t size) {
    return std::memcmp(a, b, size) == 0;
}

// Fills info, whose every byte (padding included) was 0x5A before the call.
void CallGetDriverInfo(DriverState *state, DriverInfo &info) {
    std::memset(&info, 0x5A, sizeof info);
    DriverCall call{state, EM_CMD_GET_DRIVER_INFO, 3, 0, &info};
    EXPECT_EQ(ZelMain(&call), 0);
}

DriverInfo CallGetDriverInfo(DriverState *state) {
    DriverInfo info;
    CallGetDriverInfo(state, info);
    return info;
}

std::vector<std::string> BannerLines(const char *banner) {
    std::vector<std::string> lines;
    std::string text(banner);
    EXPECT_EQ(text.front(), '\n');
    std::size_t start = 1;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    EXPECT_EQ(start, text.size()) << "every line ends with a line break";
    return lines;
}

std::string Repeat(unsigned char c, std::size_t n) {
    return std::string(n, static_cast<char>(c));
}

TEST(DriverInfo, FieldsAreTheConstantsOnEveryCall) {
    DriverInfo first;
    CallGetDriverInfo(nullptr, first);
    EXPECT_EQ(first.infoKind, 70);
    EXPECT_STREQ(first.name, "Eurotherm EM-1");
    if (sizeof(void *) == 4) {
        EXPECT_EQ(first.stateSize, 37) << "the bytes of the 32-bit record the driver uses";
    } else {
        EXPECT_EQ(first.stateSize, static_cast<std::int32_t>(sizeof(DriverState)))
            << "a host that sizes the record from it gets all the driver uses";
    }
    EXPECT_EQ(first.infoRevision, 4);
    EXPECT_EQ(first.defaults.baudRate, 9600);
    EXPECT_EQ(first.defaults.dataBits, 8);
    EXPECT_EQ(first.defaults.stopBits, 0);
    EXPECT_EQ(first.defaults.parity, 0);
    EXPECT_EQ(first.protocolKind, 3);

    DriverState state;
    std::memset(&state, 0x33, sizeof state);
    unsigned char untouched[sizeof state];
    std::memcpy(untouched, &state, sizeof state);
    DriverInfo second;
    CallGetDriverInfo(&state, second);
    EXPECT_TRUE(SameBytes(&first, &second, sizeof first));
    EXPECT_TRUE(SameBytes(&state, untouched, sizeof state));
}

TEST(DriverInfo, BannerIsTheFramedBoxOfSixLines) {
    const char *banner = CallGetDriverInfo(nullptr).banner;
    ASSERT_NE(banner, nullptr);
    EXPECT_EQ(std::strlen(banner), 337u);
    const auto lines = BannerLines(banner);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "\xDA" + Repeat(0xC4, 60) + "\xBF");
    EXPECT_EQ(lines[1], "\xB3 " + Repeat(0xDB, 5) + Repeat(0xB2, 6) + Repeat(0xB1, 6) +
                            Repeat(0xB0, 5) + " Z E L E M   " + Repeat(0xB0, 5) + Repeat(0xB1, 6) +
                            Repeat(0xB2, 6) + Repeat(0xDB, 5) + "  \xB3");
    EXPECT_EQ(lines[2], "\xB3" + std::string(15, ' ') + "EM-1 Driver. for  Eurotherm Version 10.D" +
                            std::string(5, ' ') + "\xB3");
    EXPECT_EQ(lines[3], "\xB3" + std::string(15, '\t') + "   \xB3");
    EXPECT_EQ(lines[4].size(), 62u);
    EXPECT_EQ(lines[4].front(), '\xB3');
    EXPECT_EQ(lines[4].back(), '\xB3');
    EXPECT_EQ(lines[5], "\xC0" + Repeat(0xC4, 60) + "\xD9");
}

TEST(DriverInfo, CommandTenAnswersOneAndReadsNoBlock) {
    DriverState state{};
    state.replyTimeout = 77;
    DriverCall call{&state, EM_CMD_ANSWER_ONE, 1, 0, nullptr};
    EXPECT_EQ(ZelMain(&call), 1);
    EXPECT_EQ(state.replyTimeout, 77);
}

} // namespace
