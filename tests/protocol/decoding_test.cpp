// Reply decoding on plain texts: values in the host's cells, result codes, log lines and
// the NUL bytes the decoders leave in the reply. Every reply lives in a heap buffer of its
// exact size, so the address sanitizer reports any read or write past its end.
#include "log_capture.h"
#include "protocol/decoding.h"
#include "protocol/scale.h"
#include "scripted_line.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

constexpr unsigned char kUntouched = 0xAB;

struct Decoding {
    int result;
    std::string reply; // the reply text as the decoder left it
    std::vector<unsigned char> values;
    std::vector<LogLine> log;

    float Float() const {
        float f;
        std::memcpy(&f, values.data(), sizeof f);
        return f;
    }
    std::int32_t Int32() const {
        std::int32_t i;
        std::memcpy(&i, values.data(), sizeof i);
        return i;
    }
    std::int16_t Slot(std::size_t n) const {
        std::int16_t i;
        std::memcpy(&i, values.data() + 2 * n, sizeof i);
        return i;
    }
    std::int16_t Word() const { return Slot(1); }
    bool Untouched(std::size_t from, std::size_t to) const {
        for (std::size_t i = from; i < to; ++i) {
            if (values[i] != kUntouched) {
                return false;
            }
        }
        return true;
    }
};

Decoding Decode(const char *address, std::int32_t itemClass, std::int32_t dataType,
                std::int32_t count, const std::string &reply, std::int32_t index = 0) {
    ClearCapturedLog();
    std::vector<char> text(reply.begin(), reply.end());
    text.push_back('\0');
    Decoding out{0, {}, std::vector<unsigned char>(64, kUntouched), {}};
    ItemRequest request{};
    request.address = address;
    request.itemClass = itemClass;
    request.index = index;
    request.dataType = dataType;
    request.count = count;
    request.values = out.values.data();
    out.result = StoreData(request, text.data());
    out.reply = text.data();
    out.log = CapturedLog();
    return out;
}

Decoding Single(const char *address, std::int32_t dataType, const std::string &reply) {
    const std::int32_t itemClass = address[0] == 'M' ? EM_CLASS_MODULE : EM_CLASS_LOOP;
    return Decode(address, itemClass, dataType, 1, reply);
}

const LogLine kLoopFailed{64, "EM: StoreLoopData(): Failed rc = 1"};

TEST(ScaleFactor, IsTenToTheScaleDigitForAnyText) {
    const struct {
        const char *address;
        double factor;
    } cases[] = {{"L01S0", 1},
                 {"L01S1", 10},
                 {"M12V3", 1000},
                 {"L01S", 1},
                 {"", 1},
                 {"L0", 1},
                 {"L01S 3", 1000},
                 {"L01S-1", 0},
                 {"L01S3x", 1000},
                 {"L01Sx", 1},
                 {"L01S400", INFINITY},
                 {"L01S99999999999999999999999", INFINITY}};
    for (const auto &c : cases) {
        EXPECT_EQ(ScaleFactor(c.address), c.factor) << c.address;
    }
}

// One number in the single cell: the product with the scale factor narrowed to a float,
// then cut to the cell's integer type.
struct SingleCase {
    const char *address;
    std::int32_t dataType;
    const char *reply;
    double expected; // float for type 3, the integer read back for the others
};

class SingleNumber : public ::testing::TestWithParam<SingleCase> {};

TEST_P(SingleNumber, LandsInTheCellByDataType) {
    const SingleCase &c = GetParam();
    const Decoding out = Single(c.address, c.dataType, c.reply);
    EXPECT_EQ(out.result, 0);
    EXPECT_TRUE(out.log.empty());
    EXPECT_TRUE(out.Untouched(4, out.values.size())) << "one cell only";
    switch (c.dataType) {
    case EM_TYPE_FLOAT:
        EXPECT_EQ(out.Float(), static_cast<float>(c.expected));
        break;
    case EM_TYPE_INT32:
    case EM_TYPE_UINT32:
        EXPECT_EQ(out.Int32(), static_cast<std::int32_t>(c.expected));
        break;
    default:
        EXPECT_EQ(out.Word(), static_cast<std::int16_t>(c.expected));
        EXPECT_TRUE(out.Untouched(0, 2)) << "bytes 0-1 keep their contents";
    }
}

INSTANTIATE_TEST_SUITE_P(Values, SingleNumber,
                         ::testing::Values(SingleCase{"L01S1", 3, "L01S=12.5\r\x03", 125.0},
                                           SingleCase{"L01S1", 4, "L01S=12.5\r\x03", 125},
                                           SingleCase{"L01S1", 5, "L01S=12.5\r\x03", 125},
                                           SingleCase{"L01S1", 1, "L01S=12.5\r\x03", 125},
                                           SingleCase{"L01S1", 0, "L01S=12.5\r\x03", 125},
                                           SingleCase{"L01S1", 6, "L01S=12.5\r\x03", 125},
                                           SingleCase{"L01S1", 8, "L01S=12.5\r\x03", 125},
                                           SingleCase{"L01S1", -2, "L01S=12.5\r\x03", 125},
                                           SingleCase{"L01S3", 3, "L01S=  0.25\r\x03", 250.0},
                                           SingleCase{"M12V3", 2, "M12V=0.25\r\x03", 250},
                                           SingleCase{"L01S0", 3, "L01S=-1.5\r\x03", -1.5},
                                           SingleCase{"L01S0", 1, "L01S=-1.5\r\x03", -1},
                                           SingleCase{"L01S0", 4, "L01S=-1.5\r\x03", -1},
                                           SingleCase{"L01S0", 4, "=1.5e2\r", 150},
                                           SingleCase{"L01S0", 1, "L01S=70000\r\x03", 4464},
                                           SingleCase{"L01S3", 4, "L01S=-3000000\r\x03",
                                                      1294967296},
                                           SingleCase{"L01S", 3, "L01S=7.5\r\x03", 7.5},
                                           SingleCase{"L01S1", 3, "=0.1", 1.0f}));

// Values outside every integer range, infinities and NaN have a defined result.
TEST(SingleNumber, NonFiniteAndHugeValuesAreDefined) {
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_EQ(Single("L01S0", 3, "=1e39\r").Float(), inf) << "beyond the float range";
    EXPECT_EQ(Single("L01S3", 3, "=3.4e38\r").Float(), inf);
    EXPECT_EQ(Single("L01S0", 3, "=-1e300\r").Float(), -inf);
    EXPECT_TRUE(std::isnan(Single("L01S0", 3, "=-nan\r").Float()));
    EXPECT_EQ(Single("L01S0", 3, "=3.4028234e38\r").Float(), std::numeric_limits<float>::max());

    const struct {
        const char *reply;
        std::int32_t int32;
        std::int16_t int16;
    } cases[] = {
        {"=-nan\r", 0, 0},                   // NaN gives 0
        {"=1e39\r", -1, -1},                 // +infinity: the largest 64-bit integer, cut
        {"=-inf\r", 0, 0},                   // -infinity: the smallest 64-bit integer, cut
        {"=1e19\r", -1, -1},                 // beyond 2^63: as +infinity
        {"=-1e19\r", 0, 0},                  //
        {"=4294967296\r", 0, 0},             // 2^32: its low bits
        {"=-2147483649\r", INT32_MIN, 0},    // the float is -2^31
        {"=12345678901\r", -539223040, 7168} // the float is 12345678848
    };
    for (const auto &c : cases) {
        EXPECT_EQ(Single("L01S0", 4, c.reply).Int32(), c.int32) << c.reply;
        EXPECT_EQ(Single("L01S0", 1, c.reply).Word(), c.int16) << c.reply;
    }
}

struct TokenCase {
    const char *address;
    const char *reply;
    std::int16_t code;
    int result;
};

class SingleToken : public ::testing::TestWithParam<TokenCase> {};

TEST_P(SingleToken, DecodesInTheTableOfTheParameterLetter) {
    const TokenCase &c = GetParam();
    const Decoding out = Single(c.address, 1, c.reply);
    EXPECT_EQ(out.result, c.result);
    EXPECT_EQ(out.Word(), c.code);
    EXPECT_EQ(out.log, c.result == 0 ? std::vector<LogLine>{} : std::vector<LogLine>{kLoopFailed});
}

INSTANTIATE_TEST_SUITE_P(
    Tokens, SingleToken,
    ::testing::Values(
        TokenCase{"L01X0", "L01X= OK\r\x03", 0, 0}, TokenCase{"L01S0", "L01X= OK\r\x03", 255, 1},
        TokenCase{"L01x0", "=HD\r", 8, 0}, TokenCase{"M05X0", "M05X=XX\r\x03", 10, 0},
        TokenCase{"L01M0", "L01M=AUTO  \r\x03", 3, 0},
        TokenCase{"L01M0", "L01M=A U T O\r\x03", 3, 0},
        TokenCase{"L01M0", "L01M=CASCADE\r\x03", 5, 0}, TokenCase{"L01M0", "L01M=OFF\r", 0, 0},
        TokenCase{"L01M", "=ON\r", 6, 0}, TokenCase{"L01M0", "L01M=auto\r\x03", 255, 1},
        TokenCase{"L01M0", "L01M=AUT\r\x03", 255, 1},
        TokenCase{"L01M0", "L01M=AUTOS\r\x03", 255, 1},
        TokenCase{"L01M0", "L01M=AUTO", 255, 1}, // no "\r": unknown token
        TokenCase{"L01M0", "L01M=", 255, 1}, TokenCase{"L01X0", "L01X=OK\r\x03", 0, 0}));

TEST(SingleToken, CutsTheReplyAfterTheTokensReturn) {
    const Decoding out = Single("L01M0", 3, "L01M=MANUAL\r\x03");
    EXPECT_EQ(out.Float(), 1.0f);
    EXPECT_EQ(out.reply, "L01M=MANUAL\r");
}

TEST(SingleValue, MissingSeparatorOrCountStoresNothingAndSucceeds) {
    Decoding out = Single("L01S0", 3, "L01S 12.5\r\x03");
    EXPECT_EQ(out.result, 0);
    EXPECT_TRUE(out.Untouched(0, out.values.size()));
    for (const std::int32_t count : {0, -1, INT32_MIN}) {
        out = Decode("L01S0", EM_CLASS_LOOP, 3, count, "L01S=12.5\r\x03");
        EXPECT_EQ(out.result, 0);
        EXPECT_TRUE(out.Untouched(0, out.values.size())) << count;
    }
}

// Blocks: count 16-bit values from the line that starts with the item's number.
struct BlockCase {
    const char *name;
    const char *address;
    std::int32_t count;
    const char *reply;
    int result;
    std::vector<std::int16_t> values; // the slots written
};

class Block : public ::testing::TestWithParam<BlockCase> {};

TEST_P(Block, StoresTheValuesOfTheItemsLine) {
    const BlockCase &c = GetParam();
    const Decoding out = Decode(c.address, c.address[0], EM_TYPE_FLOAT, c.count, c.reply);
    EXPECT_EQ(out.result, c.result);
    for (std::size_t i = 0; i < c.values.size(); ++i) {
        EXPECT_EQ(out.Slot(i), c.values[i]) << "slot " << i;
    }
    EXPECT_TRUE(out.Untouched(2 * c.values.size(), out.values.size()));
    EXPECT_EQ(out.log, c.result == 0 ? std::vector<LogLine>{} : std::vector<LogLine>{kLoopFailed});
}

INSTANTIATE_TEST_SUITE_P(
    Lines, Block,
    ::testing::Values(
        BlockCase{"SecondLine", "L02S0", 3, "1,5,6,7\r\n2,8,9,10\r\n\x03", 0, {8, 9, 10}},
        BlockCase{"FirstLine", "L01S0", 3, "1,5,6,7\r\n2,8,9,10\r\n\x03", 0, {5, 6, 7}},
        BlockCase{"Scaled", "M02V1", 2, "1,1.5,OK\r\n2,2.5,OK\r\n\x03", 0, {25, 0}},
        BlockCase{"MissingLine", "L02S0", 3, "1,5,6,7\r\n3,8,9,10\r\n\x03", 1, {}},
        BlockCase{"ZeroLineEnds", "L02S0", 3, "1,5\r\n0,1\r\n2,8,9,10\r\n\x03", 1, {}},
        BlockCase{"ReplyEndsAtReturn", "L02S0", 3, "1,5,6,7\r", 1, {}},
        BlockCase{"ReplyEndsAfterReturn", "L02S0", 3, "1,5,6,7\r\n", 1, {}},
        BlockCase{"ShortLineContinues", "L02S0", 3, "2,8\r\n3,9,10\r\n\x03", 0, {8, 9, 10}},
        BlockCase{"RunsOutOfValues", "L02S0", 3, "2,8,9\r\n\x03", 0, {8, 9}},
        BlockCase{"NegativeLineNumber", "L02S0", 3, "1,5\r\n -2,4,5,6\r\n\x03", 0, {4, 5, 6}},
        BlockCase{"HugeLineNumbers",
                  "L02S0",
                  2,
                  "99999999999999999999999999,1\r\n-2147483648,2\r\n"
                  "-9223372036854775808,3\r\n2,4,5\r\n\x03",
                  0,
                  {4, 5}},
        BlockCase{"StatusTokens", "L01M0", 3, "1,5,HD\r\n2,6,7\r\n\x03", 0, {5, 8, 6}},
        BlockCase{"UnknownTokenStillStored", "L01S0", 3, "1,AUTO\r\n2,6,7\r\n\x03", 1, {255, 6, 7}},
        BlockCase{"TokenAtTheEnd", "L01S0", 3, "1,5,LD\r", 0, {5, 9}},
        BlockCase{"ValuesAreSixteenBits", "L01S0", 2, "1,70000,-1.9\r\n\x03", 0, {4464, -1}}),
    [](const auto &info) { return std::string(info.param.name); });

// Special words: a value text built from the reply, then decoded as a single value.
struct WordCase {
    const char *word;
    const char *reply;
    int result;
    std::int16_t value;
    const char *replyAfter;
};

class SpecialWord : public ::testing::TestWithParam<WordCase> {};

TEST_P(SpecialWord, ReadsItsValueFromTheReply) {
    const WordCase &c = GetParam();
    const Decoding out = Decode(c.word, EM_CLASS_SPECIAL, EM_TYPE_INT16, 1, c.reply);
    EXPECT_EQ(out.result, c.result);
    EXPECT_EQ(out.reply, c.replyAfter);
    if (c.result == 0) {
        EXPECT_EQ(out.Word(), c.value);
        EXPECT_TRUE(out.log.empty());
    } else {
        EXPECT_EQ(out.log,
                  (std::vector<LogLine>{kLoopFailed, {64, "EM : StoreData(): Failed rc = 1"}}));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Words, SpecialWord,
    ::testing::Values(WordCase{"S?", "ERR ***\r\x03", 0, 1, "ERR ***\r\x03"},
                      WordCase{"S?", "***\r\x03", 0, 0, "***\r\x03"}, WordCase{"S?", "", 0, 0, ""},
                      WordCase{"XS0", "X1 2,3\r\x03", 0, 123, "X1 2,3\r\x03"},
                      WordCase{"XS0", "REV 2.14\r\x03", 0, 214, "REV 2.14\r\x03"},
                      WordCase{"XS0", "REV\r\x03", 1, 0, "REV\r\x03"},
                      WordCase{"NL", "4,7,9\r\x03", 0, 4, "4"},
                      WordCase{"NM", "4,7,9\r\x03", 0, 7, "4,7"},
                      WordCase{"NM", " 4 , 7 ,9\r\x03", 0, 7, " 4 , 7 "},
                      WordCase{"NL", "47\r\x03", 1, 0, "47\r\x03"},
                      WordCase{"NM", "4,7\r\x03", 1, 0, "4,7\r\x03"},
                      WordCase{"NA", "3\r\x03", 0, 3, "3\r\x03"},
                      WordCase{"DISP", "5\r\x03", 1, 0, "5\r\x03"}));

// "NA" puts a whole reply of the longest length after its "=".
TEST(SpecialWord, LongestReplyFitsTheValueText) {
    const std::string reply = "1" + std::string(588, '0') + "\r";
    ASSERT_EQ(reply.size(), 590u);
    const Decoding out = Decode("NA", EM_CLASS_SPECIAL, EM_TYPE_FLOAT, 1, reply + "\x03");
    EXPECT_EQ(out.result, 0);
    EXPECT_EQ(out.Float(), std::numeric_limits<float>::infinity());
}

TEST(StoreData, OtherClassesStoreNothing) {
    for (const std::int32_t itemClass : std::vector<std::int32_t>{'B', 0, -1, 'a', 'l'}) {
        const Decoding out = Decode("L01S0", itemClass, 1, 1, "L01S=5\r\x03");
        EXPECT_EQ(out.result, 0);
        EXPECT_TRUE(out.Untouched(0, out.values.size()));
        EXPECT_TRUE(out.log.empty());
    }
}

const char *const kAlerts = "ALERTS 2\r\nCC\r\nL03 LOW ALARM\r\n\x03";

TEST(Alerts, SingleFlagByIndex) {
    const struct {
        const char *reply;
        std::int32_t index;
        std::int16_t flag;
    } cases[] = {
        {kAlerts, 20, 1},
        {kAlerts, 2, 1},
        {kAlerts, 3, 0},
        {kAlerts, -1, 0},
        {kAlerts, 27, 0},
        {kAlerts, INT32_MIN, 0},
        {"ALERTS\r\nAA HIGH ALARM\r\n\x03", 0, 1},      // the first matching entry wins
        {"ALERTS\r\nAA HIGH ALARM\r\n\x03", 19, 0},     //
        {"ALERTS\r\nX CHANGE REJECTED\r\n\x03", 26, 1}, // texts match anywhere
        {"ALERTS\r\nC\r\nCC\r\x03", 2, 1},              // a short line matches nothing
        {"ALERTS\r\nPP\r", 15, 1},                      // the list ends at its last "\r"
        {"ALERTS\r\nPP\r\nHIGH ALARM", 19, 0},          // an unended line is not read
        {"ALERTS\r\nPP\r\nHIGH ALARM", 15, 1},          //
        {"ALERTS\r\n\x03\r\nCC\r\n", 2, 0},             // nothing after the ETX line
        {"ALERTS\r", 2, 0},
    };
    for (const auto &c : cases) {
        const Decoding out = Decode("A00", EM_CLASS_ALERT, EM_TYPE_BIT, 1, c.reply, c.index);
        EXPECT_EQ(out.result, 0) << c.reply;
        EXPECT_EQ(out.Word(), c.flag) << Printable(c.reply) << " index " << c.index;
        EXPECT_TRUE(out.Untouched(0, 2));
    }
}

TEST(Alerts, BlockOfFlagsFromIndex) {
    Decoding out = Decode("A01", EM_CLASS_ALERT, EM_TYPE_BIT, 3, kAlerts, 1);
    EXPECT_EQ(out.result, 0);
    EXPECT_EQ((std::vector<std::int16_t>{out.Slot(0), out.Slot(1), out.Slot(2)}),
              (std::vector<std::int16_t>{0, 1, 0}));
    EXPECT_EQ(out.reply, "ALERTS 2\r\nCC") << "each line's \\r is cut";

    out = Decode("A00", EM_CLASS_ALERT, EM_TYPE_BIT, 4, kAlerts, -1);
    EXPECT_EQ((std::vector<std::int16_t>{out.Slot(0), out.Slot(1), out.Slot(2), out.Slot(3)}),
              (std::vector<std::int16_t>{0, 0, 0, 1}));
    out = Decode("A00", EM_CLASS_ALERT, EM_TYPE_BIT, 3, kAlerts, 25);
    EXPECT_EQ((std::vector<std::int16_t>{out.Slot(0), out.Slot(1), out.Slot(2)}),
              (std::vector<std::int16_t>{0, 0, 0}));
    out = Decode("A00", EM_CLASS_ALERT, EM_TYPE_BIT, 2, kAlerts, INT32_MAX);
    EXPECT_EQ(out.result, 0);
    EXPECT_EQ(out.Slot(1), 0);
    EXPECT_TRUE(out.Untouched(4, out.values.size()));
}

TEST(Alerts, ReplyWithoutReturnFailsAndStoresNothing) {
    const Decoding out = Decode("A02", EM_CLASS_ALERT, EM_TYPE_BIT, 1, "CC", 2);
    EXPECT_EQ(out.result, 1);
    EXPECT_TRUE(out.Untouched(0, out.values.size()));
    EXPECT_EQ(out.log, (std::vector<LogLine>{{64, "EM: StoreAlertData(): Failed rc = 1"}}));
}

} // namespace
