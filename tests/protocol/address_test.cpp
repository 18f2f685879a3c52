// DefineItem and CheckItem as a host calls them: the address written back, the output
// fields, and the blocks left untouched by a refusal.
#include "em_driver.h"
#include "log_capture.h"

#include <gtest/gtest.h>

#include <cstring>
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

// Runs a command on a definition whose every field holds kPoison but the given ones.
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

struct Accepted {
    const char *address;
    std::int32_t dataType;
    const char *written;
    char itemClass;
    std::int32_t index;
    std::int32_t bitNumber;
    std::int32_t width;
};

class DefineAccepts : public ::testing::TestWithParam<Accepted> {};

TEST_P(DefineAccepts, WritesTheAddressBackAndEveryOutputField) {
    const Accepted &c = GetParam();
    ClearCapturedLog();
    const Outcome out = Command(EM_CMD_DEFINE_ITEM, c.address, c.dataType);
    EXPECT_EQ(out.result, 0);
    EXPECT_EQ(out.address, c.written);
    EXPECT_EQ(out.fields.cleared, 0);
    EXPECT_EQ(out.fields.itemClass, c.itemClass);
    EXPECT_EQ(out.fields.index, c.index);
    EXPECT_EQ(out.fields.bitNumber, c.bitNumber);
    EXPECT_EQ(out.fields.width, c.width);
    EXPECT_EQ(out.fields.dataType, c.dataType) << "DefineItem keeps the host's type";
    EXPECT_EQ(out.fields.unused, static_cast<std::uint32_t>(kPoison));
    EXPECT_TRUE(CapturedLog().empty());
}

INSTANTIATE_TEST_SUITE_P(Addresses, DefineAccepts,
                         ::testing::Values(Accepted{"l01s0", 1, "L01S0", 'L', 4, 255, 16},
                                           Accepted{"L01X3", 3, "L01X3", 'L', 7, 255, 32},
                                           Accepted{"L01%1", 4, "L01%1", 'L', 6, 255, 32},
                                           Accepted{"L29V0", 5, "L29V0", 'L', 117, 255, 32},
                                           Accepted{"L12H0", 0, "L12H0", 'L', 0, 255, 16},
                                           Accepted{"L01{1", 2, "L01[1", 'L', 0, 255, 16},
                                           Accepted{"l01~0", 1, "L01^0", 'L', 0, 255, 16},
                                           Accepted{"M12V0", 1, "M12V0", 'M', 24, 255, 16},
                                           Accepted{"m12x1", 3, "M12X1", 'M', 25, 255, 32},
                                           Accepted{"M12S0", 1, "M12S0", 'M', 0, 255, 16},
                                           Accepted{"A07", 6, "A07", 'A', 7, 0, 16},
                                           Accepted{"a26", 6, "A26", 'A', 26, 0, 16},
                                           Accepted{"L01S0", 6, "L01S0", 'L', 4, 0, 16},
                                           Accepted{"L01S0", 8, "L01S0", 'L', 4, 255, 16},
                                           Accepted{"L01S0", -3, "L01S0", 'L', 4, 255, 16},
                                           Accepted{"INIT", 1, "INIT", 'G', 0, 255, 16},
                                           Accepted{"xs0", 3, "XS0", 'G', 0, 255, 32},
                                           Accepted{"s?", 1, "S?", 'G', 0, 255, 16},
                                           Accepted{"Disp", 1, "DISP", 'G', 0, 255, 16}));

// Refusals before the rewrite leave the whole block, and the host's text, as they were.
TEST(DefineRefuses, BadAddressesTouchNothing) {
    const std::string longest(32, 'A');
    for (const std::string &address : std::vector<std::string>{
             "", "A7", "A071", "A07 ", "L1S01", "L01Q0", "L01S2", "L01S0 ", "L01S0 X", "LO1S0",
             "B01S0", "DISP ", "XS", "NLX", "\xe1\x30\x37", longest, longest + "A"}) {
        for (const std::int32_t command : {EM_CMD_DEFINE_ITEM, EM_CMD_CHECK_ITEM}) {
            const Outcome out = Command(command, address, 6, 1);
            EXPECT_EQ(out.result, 1) << address;
            EXPECT_EQ(out.address, address) << "not rewritten";
            EXPECT_EQ(out.fields.dataType, 6) << address;
            for (const std::int32_t field :
                 {out.fields.cleared, out.fields.itemClass, out.fields.index, out.fields.bitNumber,
                  out.fields.width}) {
                EXPECT_EQ(field, kPoison) << address;
            }
        }
    }
}

// An alert item with a type other than 6, and type 7 for any item, are refused after the
// address and the common fields were written.
TEST(DefineRefuses, LateRefusalsKeepWhatWasWritten) {
    const Outcome alert = Command(EM_CMD_DEFINE_ITEM, "a07", 1);
    EXPECT_EQ(alert.result, 1);
    EXPECT_EQ(alert.address, "A07");
    EXPECT_EQ(alert.fields.itemClass, 'A');
    EXPECT_EQ(alert.fields.cleared, 0);
    EXPECT_EQ(alert.fields.width, 16);
    EXPECT_EQ(alert.fields.bitNumber, 255);
    EXPECT_EQ(alert.fields.index, kPoison);

    const Outcome typeSeven = Command(EM_CMD_DEFINE_ITEM, "l01x0", 7);
    EXPECT_EQ(typeSeven.result, 1);
    EXPECT_EQ(typeSeven.address, "L01X0");
    EXPECT_EQ(typeSeven.fields.index, 7);
    EXPECT_EQ(typeSeven.fields.width, 16);
    EXPECT_EQ(typeSeven.fields.bitNumber, 255);
}

TEST(DefineRefuses, MissingBlockOrAddress) {
    DriverCall call{nullptr, EM_CMD_DEFINE_ITEM, 1, 0, nullptr};
    EXPECT_EQ(ZelMain(&call), 1);
    ItemDefinition definition;
    std::memset(&definition, 0x5A, sizeof definition);
    definition.address = nullptr;
    const ItemDefinition before = definition;
    for (const std::int32_t command : {EM_CMD_DEFINE_ITEM, EM_CMD_CHECK_ITEM}) {
        call = DriverCall{nullptr, command, 1, 0, &definition};
        EXPECT_EQ(ZelMain(&call), 1);
        EXPECT_EQ(std::memcmp(&definition, &before, sizeof definition), 0);
    }
}

// A host buffer of 33 bytes with no NUL: the commands read no byte beyond it (the address
// sanitizer watches the end of the allocation).
TEST(DefineRefuses, ReadsNoFurtherThanThirtyThreeBytes) {
    for (const std::int32_t command : {EM_CMD_DEFINE_ITEM, EM_CMD_CHECK_ITEM}) {
        std::vector<char> text(33, 'L');
        ItemDefinition definition{};
        definition.address = text.data();
        DriverCall call{nullptr, command, 1, 0, &definition};
        EXPECT_EQ(ZelMain(&call), 1);
        EXPECT_EQ(std::string(text.begin(), text.end()), std::string(33, 'L'));
    }
}

struct Checked {
    const char *address;
    std::int32_t dataType;
    std::int32_t count;
    std::int32_t result;
};

class CheckItemBounds : public ::testing::TestWithParam<Checked> {};

TEST_P(CheckItemBounds, SetsTypeOneAndBoundsTheCountPerClass) {
    const Checked &c = GetParam();
    const Outcome out = Command(EM_CMD_CHECK_ITEM, c.address, c.dataType, c.count);
    EXPECT_EQ(out.result, c.result);
    EXPECT_EQ(out.fields.dataType, 1) << "the address passed the grammar";
    EXPECT_EQ(out.fields.width, 16) << "the type's width is not applied";
    EXPECT_EQ(out.fields.count, c.count);
}

INSTANTIATE_TEST_SUITE_P(Counts, CheckItemBounds,
                         ::testing::Values(Checked{"M05V0", 3, 70, 0}, Checked{"M05V0", 3, 71, 1},
                                           Checked{"L01S0", 7, 116, 0}, Checked{"l01s0", 4, 117, 1},
                                           Checked{"L01S0", 1, -5, 0}, Checked{"A07", 3, 27, 0},
                                           Checked{"A07", 1, 28, 1}, Checked{"NL", 1, 0, 1},
                                           Checked{"INIT", 6, 1, 1}));

TEST(CheckItem, AlertItemTakesAnyTypeAndGetsItsBit) {
    const Outcome out = Command(EM_CMD_CHECK_ITEM, "a07", 4, 1);
    EXPECT_EQ(out.result, 0);
    EXPECT_EQ(out.address, "A07");
    EXPECT_EQ(out.fields.index, 7);
    EXPECT_EQ(out.fields.bitNumber, 0);
}

// The working copy belongs to each call: two threads defining different items at once
// never see each other's address.
TEST(DefineItem, TwoThreadsDefineItemsAtOnce) {
    auto defineMany = [](const char *address, const char *written, std::int32_t index, int &wrong) {
        for (int i = 0; i < 20000; ++i) {
            const Outcome out =
                Command(i % 2 == 0 ? EM_CMD_DEFINE_ITEM : EM_CMD_CHECK_ITEM, address, 1);
            if (out.address != written || out.fields.index != index) {
                ++wrong;
            }
        }
    };
    int wrongLoop = 0;
    int wrongModule = 0;
    std::thread loop(defineMany, "l01s0", "L01S0", 4, std::ref(wrongLoop));
    std::thread module(defineMany, "m12x1", "M12X1", 25, std::ref(wrongModule));
    loop.join();
    module.join();
    EXPECT_EQ(wrongLoop, 0);
    EXPECT_EQ(wrongModule, 0);
}

} // namespace
