// DefineItem and CheckItem as a host calls them: the address written back, the output
// fields, and the blocks left untouched by a refusal.
#include "em_driver.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr std::int32_t kPoison = 0x5A5A5A5A;

struct Outcome {
    std::int32_t result;
    std::string address;
    ItemDefinition fields;
};

// Runs a command on a definition whose every field holds kPoison but the given ones. The
// address lives in a heap buffer of its exact size.
Outcome Command(std::int32_t command, const std::string &address, std::int32_t dataType,
                std::int32_t count = 1) {
    std::vector<char> text(address.begin(), address.end());
    text.push_back('\0');
    ItemDefinition definition;
    std::memset(&definition, 0x5A, sizeof definition);
    definition.address = text.data();
    definition.dataType = dataType;
    definition.count = count;
    DriverCall call{nullptr, command, 1, 0, &definition};
    const std::int32_t result = ZelMain(&call);
    return Outcome{result, text.data(), definition};
}

struct Defined {
    const char *address;
    std::int32_t dataType;
    std::int32_t result;
    const char *written;
    std::vector<std::int32_t> fields; // itemClass, index, bitNumber, width
};

class Define : public ::testing::TestWithParam<Defined> {};

TEST_P(Define, WritesTheAddressBackAndTheOutputFields) {
    const Defined &c = GetParam();
    const Outcome out = Command(EM_CMD_DEFINE_ITEM, c.address, c.dataType);
    EXPECT_EQ(out.result, c.result);
    EXPECT_EQ(out.address, c.written);
    EXPECT_EQ(out.fields.cleared, 0);
    EXPECT_EQ((std::vector<std::int32_t>{out.fields.itemClass, out.fields.index,
                                         out.fields.bitNumber, out.fields.width}),
              c.fields);
    EXPECT_EQ(out.fields.dataType, c.dataType);
    EXPECT_EQ(out.fields.unused, static_cast<std::uint32_t>(kPoison));
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, Define,
    ::testing::Values(Defined{"l01s0", 1, 0, "L01S0", {'L', 4, 255, 16}},
                      Defined{"L01X3", 3, 0, "L01X3", {'L', 7, 255, 32}},
                      Defined{"L29V0", 5, 0, "L29V0", {'L', 117, 255, 32}},
                      Defined{"L12H0", 4, 0, "L12H0", {'L', 0, 255, 32}},
                      Defined{"L01{1", 2, 0, "L01[1", {'L', 0, 255, 16}},
                      Defined{"M12V0", 0, 0, "M12V0", {'M', 24, 255, 16}},
                      Defined{"m12x1", 3, 0, "M12X1", {'M', 25, 255, 32}},
                      Defined{"M12S0", 1, 0, "M12S0", {'M', 0, 255, 16}},
                      Defined{"A07", 6, 0, "A07", {'A', 7, 0, 16}},
                      Defined{"L01S0", 6, 0, "L01S0", {'L', 4, 0, 16}},
                      Defined{"L01S0", 8, 0, "L01S0", {'L', 4, 255, 16}},
                      Defined{"L01S0", -3, 0, "L01S0", {'L', 4, 255, 16}},
                      Defined{"INIT", 1, 0, "INIT", {'G', 0, 255, 16}},
                      Defined{"xs0", 3, 0, "XS0", {'G', 0, 255, 32}},
                      Defined{"s?", 1, 0, "S?", {'G', 0, 255, 16}},
                      // refused after the rewrite: an alert that is not a bit, type 7
                      Defined{"a07", 1, 1, "A07", {'A', kPoison, 255, 16}},
                      Defined{"l01x0", 7, 1, "L01X0", {'L', 7, 255, 16}}));

// Refusals of the grammar leave the whole block, and the host's text, as they were.
TEST(DefineRefuses, BadAddressesTouchNothing) {
    const std::string longest(32, 'A');
    for (const std::string &address : std::vector<std::string>{
             "", "A7", "A071", "A07 ", "L1S01", "L01Q0", "L01S2", "L01S0 ", "L01S0 X", "B01S0",
             "DISP ", "XS", "\xe1\x30\x37", longest, longest + "A"}) {
        for (const std::int32_t command : {EM_CMD_DEFINE_ITEM, EM_CMD_CHECK_ITEM}) {
            const Outcome out = Command(command, address, 6);
            EXPECT_EQ(out.result, 1) << address;
            EXPECT_EQ(out.address, address);
            EXPECT_EQ((std::vector<std::int32_t>{out.fields.dataType, out.fields.cleared,
                                                 out.fields.itemClass, out.fields.index,
                                                 out.fields.bitNumber, out.fields.width}),
                      (std::vector<std::int32_t>{6, kPoison, kPoison, kPoison, kPoison, kPoison}))
                << address;
        }
    }
}

// No block, no address, or 33 bytes without a NUL (the sanitizer watches the buffer's end).
TEST(DefineRefuses, MissingOrUnendedAddress) {
    for (const std::int32_t command : {EM_CMD_DEFINE_ITEM, EM_CMD_CHECK_ITEM}) {
        DriverCall call{nullptr, command, 1, 0, nullptr};
        EXPECT_EQ(ZelMain(&call), 1);
        std::vector<char> text(33, 'L');
        for (char *address : {static_cast<char *>(nullptr), text.data()}) {
            ItemDefinition definition{};
            definition.address = address;
            call.parameters = &definition;
            EXPECT_EQ(ZelMain(&call), 1);
            EXPECT_EQ(definition.itemClass, 0);
        }
        EXPECT_EQ(std::string(text.begin(), text.end()), std::string(33, 'L'));
    }
}

struct Checked {
    const char *address;
    std::int32_t dataType;
    std::int32_t count;
    std::int32_t result;
};

class Check : public ::testing::TestWithParam<Checked> {};

TEST_P(Check, SetsTypeOneAndBoundsTheCountPerClass) {
    const Checked &c = GetParam();
    const Outcome out = Command(EM_CMD_CHECK_ITEM, c.address, c.dataType, c.count);
    EXPECT_EQ(out.result, c.result);
    EXPECT_EQ(out.fields.dataType, 1) << "the address passed the grammar";
    EXPECT_EQ(out.fields.width, 16) << "the type's width is not applied";
}

INSTANTIATE_TEST_SUITE_P(Counts, Check,
                         ::testing::Values(Checked{"M05V0", 3, 70, 0}, Checked{"M05V0", 3, 71, 1},
                                           Checked{"L01S0", 7, 116, 0}, Checked{"l01s0", 4, 117, 1},
                                           Checked{"L01S0", 1, -5, 0}, Checked{"a07", 3, 27, 0},
                                           Checked{"A07", 1, 28, 1}, Checked{"NL", 1, 0, 1}));

// The working copy belongs to each call: two threads defining different items at once
// never see each other's address.
TEST(DefineItem, TwoThreadsDefineItemsAtOnce) {
    auto defineMany = [](const char *address, const char *written, std::int32_t index, int &wrong) {
        for (int i = 0; i < 20000; ++i) {
            const Outcome out =
                Command(i % 2 == 0 ? EM_CMD_DEFINE_ITEM : EM_CMD_CHECK_ITEM, address, 1);
            wrong += out.address != written || out.fields.index != index ? 1 : 0;
        }
    };
    int wrong[2] = {};
    std::thread loop(defineMany, "l01s0", "L01S0", 4, std::ref(wrong[0]));
    std::thread module(defineMany, "m12x1", "M12X1", 25, std::ref(wrong[1]));
    loop.join();
    module.join();
    EXPECT_EQ(wrong[0] + wrong[1], 0);
}

} // namespace
