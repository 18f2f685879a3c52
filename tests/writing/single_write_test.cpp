// SingleWrite against the scripted instrument on a virtual clock.
#include "em_driver.h"
#include "log_capture.h"
#include "scripted_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

using Cell = std::array<unsigned char, 4>;
using Log = std::vector<LogLine>;

// A 16-bit value in bytes 2-3; bytes 0-1 hold a pattern no write may take.
Cell Word(int value) {
    const auto word = static_cast<std::uint16_t>(value);
    Cell cell{0xEE, 0xEE};
    std::memcpy(cell.data() + 2, &word, 2);
    return cell;
}
template <typename T> Cell Whole(T value) {
    Cell cell{};
    std::memcpy(cell.data(), &value, sizeof cell);
    return cell;
}

Log FailureLines(int rc, const std::string &request, const std::string &reply) {
    return {{32, "ZEL4: EM: SingleWrite(): Failed rc = " + std::to_string(rc)},
            {64, "\trequest: " + request},
            {64, "\treply: " + reply}};
}
Log Joined(Log first, const Log &second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}
const LogLine kRecovered{64, "ZEL04: EM: resetError(): success rc = 0"};
const LogLine kEnteredP45{64, "setTabularVal():entered  valType = P, val = 45.000000"};

class SingleWriteTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Line().Reset();
        ClearCapturedLog();
        PortSettings port{};
        std::strcpy(port.portName, "ttyS3");
        ASSERT_EQ(Line().Open(port, state.portHandle), SerialResult::kOk);
        state.enabled = 1;
        state.replyTerminator = 10; // value writes leave 3; everything else leaves it as it is
    }
    static ScriptedLine &Line() { return ScriptedLine::Instance(); }

    // Command 7 for the address with the class DefineItem gives it, unless itemClass says.
    std::int32_t Write(const char *address, Cell cell, std::int32_t dataType = EM_TYPE_UINT16,
                       std::int32_t itemClass = 0) {
        ItemRequest item{};
        item.address = address;
        item.itemClass = itemClass != 0                              ? itemClass
                         : std::strchr("ALM", address[0]) != nullptr ? address[0]
                                                                     : 'G';
        item.dataType = dataType;
        item.values = cell.data();
        DriverCall call{&state, EM_CMD_SINGLE_WRITE, 4, 0, &item};
        return ZelMain(&call);
    }
    static std::vector<std::string> Requests() {
        std::vector<std::string> sent;
        for (const auto &write : Line().Writes()) {
            sent.push_back(write.bytes);
        }
        return sent;
    }

    DriverState state{};
};

TEST_F(SingleWriteTest, WritesSendTheirRequestOrNothing) {
    const struct {
        const char *address;
        Cell cell;
        std::int32_t dataType;
        const char *request; // nullptr: nothing is sent
        int result;
        std::int32_t itemClass = 0;
    } cases[] = {
        {"L01S1", Word(125), EM_TYPE_UINT16, "L01S=12.500\r", 0},
        {"L01S0", Word(-5), EM_TYPE_INT16, "L01S=-5\r", 0},
        {"L01S3", Word(65535), EM_TYPE_UINT16, "L01S=65.535\r", 0},
        {"L01S0", Word(65535), EM_TYPE_WORD, "L01S=65535\r", 0},
        {"M05V1", Whole(-12345.0F), EM_TYPE_FLOAT, "M05V=-1234.50\r", 0},
        {"L01S0", Whole(-70000), EM_TYPE_INT32, "L01S=-70000\r", 0},
        {"L01S3", Whole(4000000000U), EM_TYPE_UINT32, "L01S=4000000\r", 0},
        {"L01S1", Word(-1), EM_TYPE_BIT, "L01S=-0.100\r", 0}, // other types: signed word
        {"L01S0", Word(-2), 9, "L01S=-2\r", 0},
        {"L01X0", Word(3), EM_TYPE_UINT16, "L01X=3\r", 0},
        {"L01P0", Word(0), EM_TYPE_UINT16, "L01P=OFF\r", 0},
        {"L01M1", Word(30), EM_TYPE_UINT16, "L01M=AUTO\r", 0},
        {"L02G3", Word(250), EM_TYPE_UINT16, "L02G=0.250\r", 0},
        {"SX", Word(0), EM_TYPE_UINT16, "SX\r", 0},
        {"S?", Word(0), EM_TYPE_FLOAT, "SI\r", 0},
        {"DISP", Word(1), EM_TYPE_UINT16, "SOTURN KEY OFF\r", 0},
        {"DISP", Word(0), EM_TYPE_INT32, "SB\r", 0},
        {"INIT", Word(7), EM_TYPE_UINT16, nullptr, 0},
        {"SX", Word(1), EM_TYPE_UINT16, nullptr, 1},
        {"S?", Word(1), EM_TYPE_UINT16, nullptr, 1},
        {"DISP", Word(2), EM_TYPE_UINT16, nullptr, 1},
        {"DISP", Whole(1.0F), EM_TYPE_FLOAT, nullptr, 1}, // bytes 2-3 of the float
        {"NL", Word(0), EM_TYPE_UINT16, nullptr, 1},
        {"XS0", Word(0), EM_TYPE_UINT16, nullptr, 1},
        {"A07", Word(1), EM_TYPE_BIT, nullptr, 1},
        {"L01S0", Word(1), EM_TYPE_UINT16, nullptr, 1, 'B'},
    };
    for (const auto &c : cases) {
        SetUp();
        if (c.request != nullptr) {
            Line().Expect(c.request).Reply("ok ***\r\n");
        }
        EXPECT_EQ(Write(c.address, c.cell, c.dataType, c.itemClass), c.result) << c.address;
        EXPECT_EQ(Requests(), c.request != nullptr ? std::vector<std::string>{c.request}
                                                   : std::vector<std::string>{})
            << c.address;
        const bool valueWrite = c.request != nullptr && c.address[0] != 'S' && c.address[0] != 'D';
        EXPECT_EQ(state.replyTerminator, valueWrite ? 3 : 10) << c.address;
        EXPECT_TRUE(std::ranges::none_of(CapturedLog(), [](const LogLine &l) {
            return l.level == 32;
        })) << c.address;
    }
}

// After the question the terminator is ETX again: the acknowledgement after its line feed counts.
// When "Y" cannot be sent, the failure shows the question, the last reply that arrived.
TEST_F(SingleWriteTest, ConfirmationAcknowledgementAndRecovery) {
    const struct {
        // To the write, then to "Y"; "" for silence. A question alone: "Y" cannot be sent.
        std::vector<std::string> replies;
        int result;
        Log log;
    } cases[] = {
        {{"L01P? 45.0 Y/N\r\n", "L01P=45.0\r\n***\r\x03"}, 0, {kEnteredP45}},
        {{"L01P=45.0\r\n***\r\x03"},
         1,
         Joined({kEnteredP45, kRecovered}, FailureLines(1, "L01P=45.0\r", "L01P=45.0\r\n"))},
        {{"?\r\n"}, 1, Joined({kEnteredP45, kRecovered}, FailureLines(1, "L01P=45.0\r", "?\r\n"))},
        // Noise with a "?" in fifth place asks nothing: no "Y" goes out.
        {{"25K:?x\r\n"},
         1,
         Joined({kEnteredP45, kRecovered}, FailureLines(1, "L01P=45.0\r", "25K:?x\r\n"))},
        {{""}, 2, Joined({kEnteredP45}, FailureLines(2, "L01P=45.0\r", ""))},
        {{"L01P? 45.0 Y/N\r\n", "CANCELLED\r\x03"},
         1,
         Joined({kEnteredP45, kRecovered}, FailureLines(1, "Y\r", "CANCELLED\r\x03"))},
        {{"L01P? 45.0 Y/N\r\n", ""}, 7, Joined({kEnteredP45}, FailureLines(7, "Y\r", ""))},
        {{"L01P? 45.0 Y/N\r\n", "L02P=45.0 ***\r\x03"},
         7,
         Joined({kEnteredP45,
                 {64, "ZEL4: EM: ReadReply(): discarded the reply to another "
                      "request: \"L02P=45.0 ***\\r\\x03\""}},
                FailureLines(7, "Y\r", ""))},
        {{"L01P? 45.0 Y/N\r\n"},
         7,
         Joined({kEnteredP45}, FailureLines(7, "Y\r", "L01P? 45.0 Y/N\r\n"))},
    };
    for (const auto &c : cases) {
        SetUp();
        Line().Expect("L01P=45.0\r").Reply(c.replies[0]);
        if (c.replies.size() > 1) {
            Line().Expect("Y\r").Reply(c.replies[1]);
        } else if (c.replies[0].find("Y/N") != std::string::npos) {
            Line().FailWritesAfter(1);
        }
        Line().Expect("S?\r").Reply("***\r\x03");
        EXPECT_EQ(Write("L01P0", Word(45)), c.result) << Printable(c.replies.back());
        EXPECT_EQ(CapturedLog(), c.log) << Printable(c.replies.back());
        EXPECT_EQ(state.replyTerminator, 3);
    }
    SetUp();
    Line().Expect("L01P=45.0\r").Reply("L01P? 45.0 Y/N\r\n");
    Line().Expect("Y\r").Reply("L01P=45.0 ***\r\x03");
    EXPECT_EQ(Write("L01P0", Word(45)), 0);
    EXPECT_EQ(Line().Now(), 500u) << "two exchanges of 250 ms";
}

TEST_F(SingleWriteTest, SpecialWordWithoutReplyPausesASecond) {
    Line().ExpectSilence("SX\r");
    EXPECT_EQ(Write("SX", Word(0)), 2);
    EXPECT_EQ(Line().Now(), 200u + 1000u + 50u + 1000u) << "timeout, then the second's pause";
    EXPECT_EQ(CapturedLog(), FailureLines(2, "SX\r", ""));
}

TEST_F(SingleWriteTest, ValuesWithoutTextAndBadAddressesAreRefusedWithAReason) {
    const struct {
        const char *address;
        Cell cell;
        std::int32_t dataType;
        const char *reason;
    } cases[] = {
        {"L01S", Word(1), EM_TYPE_UINT16, "ZEL4: EM: SingleWrite(): not an item address: L01S"},
        {"L01S00", Word(1), EM_TYPE_UINT16, "ZEL4: EM: SingleWrite(): not an item address: L01S00"},
        {"L01S0", Whole(std::numeric_limits<float>::infinity()), EM_TYPE_FLOAT,
         "ZEL4: EM: SingleWrite(): no number text for val = inf"},
        {"M01V0", Whole(1e16F), EM_TYPE_FLOAT,
         "ZEL4: EM: SingleWrite(): no number text for val = 10000000272564224.000000"},
        {"L01P0", Word(7), EM_TYPE_UINT16, "setTabularVal(): Fail valType = P, val = 7.000000"},
        {"L01M0", Word(-1), EM_TYPE_INT16, "setTabularVal(): Fail valType = M, val = -1.000000"},
    };
    for (const auto &c : cases) {
        SetUp();
        EXPECT_EQ(Write(c.address, c.cell, c.dataType), 1) << c.address;
        EXPECT_TRUE(Line().Writes().empty()) << c.address;
        ASSERT_FALSE(CapturedLog().empty());
        EXPECT_EQ(CapturedLog().back(), (LogLine{64, c.reason}));
    }
    SetUp();
    state.enabled = 0;
    EXPECT_EQ(Write("L01S0", Word(1)), 1);
    EXPECT_TRUE(Line().Writes().empty());
    EXPECT_TRUE(CapturedLog().empty());
}

} // namespace
