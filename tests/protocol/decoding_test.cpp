// Reply decoding on plain texts: the host's cells, result codes, log lines and the NUL
// bytes the decoders leave in the reply. Every reply lives in a heap buffer of its exact
// size, so the address sanitizer reports any read or write past its end.
#include "log_capture.h"
#include "protocol/decoding.h"
#include "protocol/scale.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Decoded {
    int result;
    std::string reply; // as the decoder left it
    std::vector<unsigned char> values;

    // The first bytes of the value buffer in hex; untouched bytes read "ab".
    std::string Hex(std::size_t count) const {
        std::string hex;
        for (std::size_t i = 0; i < count; ++i) {
            char byte[3];
            std::snprintf(byte, sizeof byte, "%02x", values[i]);
            hex += byte;
        }
        return hex;
    }
    std::vector<std::int16_t> Slots(std::size_t count) const {
        std::vector<std::int16_t> slots(count);
        for (std::size_t i = 0; i < count; ++i) {
            std::memcpy(&slots[i], values.data() + 2 * i, sizeof slots[i]);
        }
        return slots;
    }
};

std::int32_t ClassOf(const char *address) {
    for (const char letter : {'A', 'L', 'M'}) {
        if (address[0] == letter) {
            return letter;
        }
    }
    return EM_CLASS_SPECIAL;
}

// Decodes reply for an item as DefineItem classifies it; an alert item's index is its number.
Decoded Decode(const char *address, std::int32_t dataType, std::int32_t count,
               const std::string &reply, std::int32_t itemClass = 0) {
    ClearCapturedLog();
    std::vector<char> text(reply.begin(), reply.end());
    text.push_back('\0');
    Decoded out{0, {}, std::vector<unsigned char>(64, 0xAB)};
    ItemRequest request{};
    request.address = address;
    request.itemClass = itemClass != 0 ? itemClass : ClassOf(address);
    request.index = request.itemClass == EM_CLASS_ALERT ? std::atoi(address + 1) : 0;
    request.dataType = dataType;
    request.count = count;
    request.values = out.values.data();
    out.result = StoreData(request, text.data());
    out.reply = text.data();
    return out;
}

TEST(ScaleFactor, IsTenToTheScaleDigitForAnyText) {
    const std::pair<const char *, double> cases[] = {{"L01S0", 1},
                                                     {"L01S1", 10},
                                                     {"M12V3", 1000},
                                                     {"L01S", 1},
                                                     {"", 1},
                                                     {"L01S 3", 1000},
                                                     {"L01S-1", 0},
                                                     {"L01S400", INFINITY},
                                                     {"L01S99999999999999999999999", INFINITY}};
    for (const auto &[address, factor] : cases) {
        EXPECT_EQ(ScaleFactor(address), factor) << address;
    }
}

// One value into the single cell: float 3 and 32-bit 4, 5 in bytes 0-3, every other type
// 16 bits in bytes 2-3. Integers are cut from the float: NaN gives 0, anything beyond the
// 64-bit range its nearest end, then the low bits.
struct SingleCase {
    const char *address;
    std::int32_t dataType;
    const char *reply;
    int result;
    const char *cell;            // the 4 bytes of the cell, little-endian hex
    const char *after = nullptr; // the reply afterwards when the decoder cut it
};

class Single : public ::testing::TestWithParam<SingleCase> {};

TEST_P(Single, FillsTheCell) {
    const SingleCase &c = GetParam();
    const Decoded out = Decode(c.address, c.dataType, 1, c.reply);
    EXPECT_EQ(out.result, c.result);
    EXPECT_EQ(out.Hex(8), std::string(c.cell) + "abababab") << "one cell only";
    EXPECT_EQ(out.reply, c.after != nullptr ? c.after : c.reply);
}

INSTANTIATE_TEST_SUITE_P(
    Values, Single,
    ::testing::Values(
        // numbers, scaled by the address's scale digit
        SingleCase{"L01S1", 3, "L01S=12.5\r\x03", 0, "0000fa42"},   // 125.0f
        SingleCase{"L01S1", 4, "L01S=12.5\r\x03", 0, "7d000000"},   // 125
        SingleCase{"L01S1", 1, "L01S=12.5\r\x03", 0, "abab7d00"},   // bytes 0-1 kept
        SingleCase{"L01S1", 9, "L01S=12.5\r\x03", 0, "abab7d00"},   //
        SingleCase{"M12V3", 5, "M12V=  0.25\r\x03", 0, "fa000000"}, // 250
        SingleCase{"L01S0", 3, "L01S=-1.5\r\x03", 0, "0000c0bf"},   // -1.5f
        SingleCase{"L01S0", 0, "L01S=-1.5\r\x03", 0, "ababffff"},   // -1
        SingleCase{"L01S0", 2, "L01S=70000\r\x03", 0, "abab7011"},  // low 16 bits
        SingleCase{"L01S", 3, "=7.5", 0, "0000f040"},               // no scale digit
        SingleCase{"L01S3", 4, "=-3000000\r", 0, "00a22f4d"},       // low 32 bits
        // beyond every range
        SingleCase{"L01S3", 3, "=3.4e38\r", 0, "0000807f"}, // +inf
        SingleCase{"L01S400", 4, "=0\r", 0, "00000000"},    // 0 times inf: NaN gives 0
        SingleCase{"L01S0", 4, "=1e39\r", 0, "ffffffff"},   // largest int64, cut
        SingleCase{"L01S0", 1, "=-1e39\r", 0, "abab0000"},  // smallest int64, cut
        // text that is no decimal number: nothing stored
        SingleCase{"L01S0", 4, "=0x10\r", 1, "abababab"},
        SingleCase{"L01S0", 3, "=-inf\r", 1, "abababab"},
        SingleCase{"L01S0", 3, "=-nan\r", 1, "abababab"},
        SingleCase{"L01S0", 3, "=1e999\r", 1, "abababab"},
        SingleCase{"L01S0", 3, "=-\r", 1, "abababab"},
        SingleCase{"L01S0", 4, "=-2147483649\r", 0, "00000080"}, // the float is -2^31
        SingleCase{"L01S0", 1, "=12345678901\r", 0, "abab001c"}, // the float is 12345678848
        // tokens: status table for the letter X, mode table otherwise
        SingleCase{"L01X0", 1, "L01X= OK\r\x03", 0, "abab0000", "L01X= OK\r"},
        SingleCase{"M05x0", 3, "M05X=HD\r\x03", 0, "00000041", "M05X=HD\r"}, // 8.0f
        SingleCase{"L01S0", 1, "L01S=OK\r\x03", 1, "ababff00", "L01S=OK\r"}, // unknown: 255
        SingleCase{"L01M0", 1, "L01M=A UTO  \r\x03", 0, "abab0300", "L01M=A UTO  \r"},
        SingleCase{"L01M", 1, "=ON\r", 0, "abab0600"},
        SingleCase{"L01M0", 1, "L01M=auto\r", 1, "ababff00"},
        SingleCase{"L01M0", 1, "L01M=AUTOS\r", 1, "ababff00"},
        SingleCase{"L01M0", 1, "L01M=AUTO", 1, "ababff00"},   // no "\r" after it
        SingleCase{"L01S0", 1, "L01S 12.5\r", 1, "abababab"}, // no "=": nothing stored
        SingleCase{"L01S0", 1, "\x03", 1, "abababab"},        // the terminator alone
        // special words
        SingleCase{"S?", 1, "ERR ***\r\x03", 0, "abab0100"},
        SingleCase{"S?", 1, "***\r\x03", 0, "abab0000"},
        SingleCase{"XS0", 1, "X1 2,3\r\x03", 0, "abab7b00"}, // 123
        SingleCase{"NL", 1, "4,7,9\r\x03", 0, "abab0400", "4"},
        SingleCase{"NM", 1, " 4 , 7 ,9\r\x03", 0, "abab0700", " 4 , 7 "},
        SingleCase{"NA", 1, "3\r\x03", 0, "abab0300"},
        SingleCase{"NL", 1, "47\r\x03", 1, "ababff00"},
        SingleCase{"NM", 1, "4,7\r\x03", 1, "ababff00"},
        SingleCase{"XS0", 1, "REV\r\x03", 1, "ababff00"},
        SingleCase{"INIT", 1, "1\r\x03", 1, "ababff00"},
        // alerts: the item's flag; codes match a line's start, texts anywhere in it
        SingleCase{"A02", 6, "ALERTS 2\r\nCC\r\nL03 LOW ALARM\r\n\x03", 0, "abab0100",
                   "ALERTS 2\r\nCC"},
        SingleCase{"A20", 6, "ALERTS 2\r\nCC\r\nL03 LOW ALARM\r\n\x03", 0, "abab0100",
                   "ALERTS 2\r\nCC"},
        SingleCase{"A19", 6, "ALERTS\r\nAA HIGH ALARM\r\n\x03", 0, "abab0000",
                   "ALERTS\r\nAA HIGH ALARM"},
        SingleCase{"A02", 6, "ALERTS\r\nC\r\nCC\r\x03", 0, "abab0100", "ALERTS\r\nC"},
        SingleCase{"A15", 6, "ALERTS\r\nPP\r", 0, "abab0100", "ALERTS\r\nPP"},
        SingleCase{"A19", 6, "ALERTS\r\nPP\r\nHIGH ALARM", 0, "abab0000", "ALERTS\r\nPP"},
        SingleCase{"A02", 6, "ALERTS\r\n\x03\r\nCC\r\n", 0, "abab0000"},
        SingleCase{"A02", 6, "CC", 1, "abababab"}));

TEST(Single, OtherClassesAndCountsBelowOneStoreNothing) {
    EXPECT_EQ(Decode("L01S0", 1, 1, "L01S=5\r\x03", 'B').Hex(8), "abababababababab");
    EXPECT_EQ(Decode("L01S0", 1, 0, "L01S=5\r\x03").Hex(8), "abababababababab");
    EXPECT_TRUE(CapturedLog().empty());
}

TEST(Single, LongestReplyFitsTheValueTextOfNA) {
    const std::string reply = std::string(586, '0') + "125\r\x03"; // its last digits count
    ASSERT_EQ(reply.size(), 591u);
    EXPECT_EQ(Decode("NA", 3, 1, reply).Hex(4), "0000fa42");
}

TEST(Logging, EachDecoderLogsItsFailure) {
    Decode("NL", 1, 1, "47\r\x03");
    EXPECT_EQ(CapturedLog(), (std::vector<LogLine>{{64, "EM: StoreLoopData(): Failed rc = 1"},
                                                   {64, "EM : StoreData(): Failed rc = 1"}}));
    Decode("L01S0", 1, 3, "1,AUTO\r\n\x03");
    EXPECT_EQ(CapturedLog(), (std::vector<LogLine>{{64, "EM: StoreLoopData(): Failed rc = 1"}}));
    Decode("A02", 6, 1, "CC");
    EXPECT_EQ(CapturedLog(), (std::vector<LogLine>{{64, "EM: StoreAlertData(): Failed rc = 1"}}));
}

// Blocks: count 16-bit values from the line that starts with the item's number.
struct BlockCase {
    const char *address;
    std::int32_t count;
    const char *reply;
    int result;
    std::vector<std::int16_t> slots; // followed by untouched bytes
};

class Block : public ::testing::TestWithParam<BlockCase> {};

TEST_P(Block, StoresTheValuesOfTheItemsLine) {
    const BlockCase &c = GetParam();
    const Decoded out = Decode(c.address, EM_TYPE_FLOAT, c.count, c.reply);
    EXPECT_EQ(out.result, c.result);
    EXPECT_EQ(out.Slots(c.slots.size()), c.slots);
    EXPECT_EQ(out.Hex(2 * c.slots.size() + 2).substr(4 * c.slots.size()), "abab");
}

const char *const kTwoLoops = "1,5,6,7\r\n2,8,9,10\r\n\x03";

INSTANTIATE_TEST_SUITE_P(
    Lines, Block,
    ::testing::Values(
        BlockCase{"L02S0", 3, kTwoLoops, 0, {8, 9, 10}},
        BlockCase{"L01S1", 3, kTwoLoops, 0, {50, 60, 70}},
        BlockCase{"M03V0", 3, kTwoLoops, 1, {}},                   // no line 3
        BlockCase{"L02S0", 3, "1,5\r\n0,1\r\n2,8\r\n\x03", 1, {}}, // "0" ends the search
        BlockCase{"L02S0", 3, "1,5,6,7\r", 1, {}},                 // ends at its "\r"
        BlockCase{"L02S0", 3, "1,5,6,7\r\n", 1, {}},
        BlockCase{"L02S0", 3, "2,8\r\n3,9,10\r\n\x03", 0, {8, 9, 10}}, // goes on past the line
        BlockCase{"L02S0", 3, "2,8,9\r\n\x03", 0, {8, 9}},             // runs out of values
        BlockCase{"L02S0", 3, "1,5\r\n -2,4,5,6\r\n\x03", 0, {4, 5, 6}},
        BlockCase{"L02S0",
                  2,
                  "99999999999999999999999,1\r\n-9223372036854775808,3\r\n2,4,5\r\n",
                  0,
                  {4, 5}},
        BlockCase{"L01M0", 3, "1,5,HD\r\n2,6,7\r\n\x03", 0, {5, 8, 6}}, // status tokens
        BlockCase{"L01S0", 3, "1,AUTO\r\n2,6,7\r\n\x03", 1, {255, 6, 7}},
        BlockCase{"L01S0", 3, "1,5,LD\r", 0, {5, 9}},
        BlockCase{"L01S0", 2, "1,70000,-1.9\r\n\x03", 0, {4464, -1}},
        BlockCase{"L01S0", 3, "1,5,0x10,7\r\n\x03", 1, {5, -21589, 7}})); // 0xabab kept

// Alert flags are read by the host's index: numbers outside 0 to 26 read as 0.
TEST(Alerts, BlockOfFlagsFromTheIndex) {
    const char *reply = "ALERTS 2\r\nCC\r\nL03 LOW ALARM\r\n\x03";
    const std::pair<std::int32_t, std::vector<std::int16_t>> cases[] = {
        {1, {0, 1, 0}},  {2, {1, 0}},         {20, {1, 0, 0}},    {-1, {0, 0, 0, 1}},
        {25, {0, 0, 0}}, {INT32_MAX, {0, 0}}, {INT32_MIN, {0, 0}}};
    for (const auto &[index, flags] : cases) {
        ClearCapturedLog();
        std::vector<char> text(reply, reply + std::strlen(reply) + 1);
        std::vector<std::int16_t> values(32, 0x5555);
        const ItemRequest request{"A00",
                                  {},
                                  EM_CLASS_ALERT,
                                  index,
                                  {},
                                  6,
                                  static_cast<std::int32_t>(flags.size()),
                                  0,
                                  values.data()};
        EXPECT_EQ(StoreData(request, text.data()), 0);
        EXPECT_EQ(std::vector<std::int16_t>(values.begin(), values.begin() + flags.size()), flags)
            << index;
        EXPECT_EQ(values[flags.size()], 0x5555);
        const ItemRequest single{"A00", {}, EM_CLASS_ALERT, index, {}, 6, 1, 0, values.data()};
        std::vector<char> again(reply, reply + std::strlen(reply) + 1);
        EXPECT_EQ(StoreData(single, again.data()), 0);
        EXPECT_EQ(values[1], index == 2 || index == 20 ? 1 : 0);
    }
}

} // namespace
