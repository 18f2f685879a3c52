// SingleWrite against the scripted instrument on a virtual clock.
#include "em_driver.h"
#include "log_capture.h"
#include "scripted_line.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

constexpr int kDriverNumber = 4;
using Cell = std::array<unsigned char, 4>;

// A 16-bit value in bytes 2-3; bytes 0-1 hold a pattern no write may take.
Cell Word(std::uint16_t value) {
    Cell cell{0xEE, 0xEE};
    std::memcpy(cell.data() + 2, &value, 2);
    return cell;
}
template <typename T> Cell Whole(T value) {
    static_assert(sizeof(T) == 4);
    Cell cell{};
    std::memcpy(cell.data(), &value, 4);
    return cell;
}

class SingleWriteTest : public ::testing::Test {
  protected:
    void SetUp() override {
        line().Reset();
        ClearCapturedLog();
        PortSettings port{};
        std::strcpy(port.portName, "ttyS3");
        ASSERT_EQ(line().Open(port, state.portHandle), 0);
        state.enabled = 1;
        state.replyTerminator = 3;
    }
    static ScriptedLine &line() { return ScriptedLine::Instance(); }

    // Command 7 for the address with the class DefineItem gives it, unless itemClass says.
    std::int32_t Write(const char *address, Cell cell, std::int32_t dataType = EM_TYPE_UINT16,
                       std::int32_t itemClass = 0) {
        ItemRequest item{};
        item.address = address;
        item.itemClass = itemClass != 0                              ? itemClass
                         : std::strchr("ALM", address[0]) != nullptr ? address[0]
                                                                     : 'G';
        item.dataType = dataType;
        item.count = 1;
        item.values = cell.data();
        DriverCall call{&state, EM_CMD_SINGLE_WRITE, kDriverNumber, 0, &item};
        return ZelMain(&call);
    }
    static std::vector<std::string> Requests() {
        std::vector<std::string> sent;
        for (const auto &write : line().Writes()) {
            sent.push_back(write.bytes);
        }
        return sent;
    }
    static std::vector<LogLine> FailureLines(int rc, const std::string &request,
                                             const std::string &reply) {
        return {{32, "ZEL4: EM: SingleWrite(): Failed rc = " + std::to_string(rc)},
                {64, "\trequest: " + request},
                {64, "\treply: " + reply}};
    }

    DriverState state{};
};

TEST_F(SingleWriteTest, ValueWritesSendTheScaledNumberOrToken) {
    const struct {
        const char *address;
        std::int32_t dataType;
        Cell cell;
        const char *request;
    } cases[] = {
        {"L01S1", EM_TYPE_UINT16, Word(125), "L01S=12.500\r"},
        {"L01S0", EM_TYPE_INT16, Word(static_cast<std::uint16_t>(-5)), "L01S=-5\r"},
        {"L01S3", EM_TYPE_UINT16, Word(65535), "L01S=65.535\r"},
        {"L01S0", EM_TYPE_WORD, Word(65535), "L01S=65535\r"},
        {"M05V1", EM_TYPE_FLOAT, Whole(-12345.0F), "M05V=-1234.50\r"},
        {"L01S0", EM_TYPE_INT32, Whole(-70000), "L01S=-70000\r"},
        {"L01S3", EM_TYPE_UINT32, Whole(4000000000U), "L01S=4000000\r"},
        // Types without a width of their own: the signed 16-bit word, as reads store it.
        {"L01S1", EM_TYPE_BIT, Word(65535), "L01S=-0.100\r"},
        {"L01S0", 9, Word(static_cast<std::uint16_t>(-2)), "L01S=-2\r"},
        {"L01X0", EM_TYPE_UINT16, Word(3), "L01X=3\r"},
        {"L01P0", EM_TYPE_UINT16, Word(0), "L01P=OFF\r"},
        {"L01M0", EM_TYPE_UINT16, Word(3), "L01M=AUTO\r"},
        {"L01M1", EM_TYPE_UINT16, Word(30), "L01M=AUTO\r"},
        {"L02G3", EM_TYPE_UINT16, Word(250), "L02G=0.250\r"},
    };
    for (const auto &c : cases) {
        SetUp();
        line().Expect(c.request).Reply(std::string(c.address, 4) + "=1 ***\r\n");
        EXPECT_EQ(Write(c.address, c.cell, c.dataType), 0) << c.request;
        EXPECT_EQ(Requests(), std::vector<std::string>{c.request});
        EXPECT_EQ(state.replyTerminator, 3);
    }
    EXPECT_EQ(line().Now(), 250u) << "one exchange";
}

TEST_F(SingleWriteTest, ReplyEndsAtTheLineFeedAndTheTerminatorIsEtxAfterwards) {
    state.replyTerminator = 10;
    line().Expect("L01S=12.500\r").Reply("L01S=12.5\r\n***\r\x03");
    line().Expect("S?\r").Reply("***\r\x03");
    EXPECT_EQ(Write("L01S1", Word(125)), 1) << "the *** after the line feed is not read";
    EXPECT_EQ(state.replyTerminator, 3);
    std::vector<LogLine> expected{{64, "ZEL04: EM: resetError(): success rc = 0"}};
    for (const LogLine &failure : FailureLines(1, "L01S=12.500\r", "L01S=12.5\r\n")) {
        expected.push_back(failure);
    }
    EXPECT_EQ(CapturedLog(), expected);
}

TEST_F(SingleWriteTest, ConfirmationQuestionIsAnsweredWithYAndItsReplyReadToEtx) {
    line().Expect("L01P=45.0\r").Reply("L01P? 45.0 Y/N\r\n");
    line().Expect("Y\r").Reply("L01P=45.0\r\n***\r\x03");
    EXPECT_EQ(Write("L01P0", Word(45)), 0);
    EXPECT_EQ(Requests(), (std::vector<std::string>{"L01P=45.0\r", "Y\r"}));
    EXPECT_EQ(line().Now(), 500u);
    EXPECT_EQ(CapturedLog().size(), 1u) << "the entered line of the token only";
}

TEST_F(SingleWriteTest, FailuresAreLoggedAndRefusalsRecovered) {
    const struct {
        std::vector<std::string> replies; // to the write, then to "Y"; "" for silence
        int result;
        const char *loggedRequest;
        const char *loggedReply;
    } cases[] = {
        {{"?\r\n"}, 1, "L01P=45.0\r", "?\r\n"},
        {{""}, 2, "L01P=45.0\r", ""},
        {{"L01P? 45.0 Y/N\r\n", "CANCELLED\r\x03"}, 1, "Y\r", "CANCELLED\r\x03"},
        {{"L01P? 45.0 Y/N\r\n", ""}, 7, "Y\r", ""},
    };
    for (const auto &c : cases) {
        SetUp();
        line().Expect("L01P=45.0\r").Reply(c.replies[0]);
        if (c.replies.size() > 1) {
            line().Expect("Y\r").Reply(c.replies[1]);
        }
        line().Expect("S?\r").Reply("***\r\x03");
        EXPECT_EQ(Write("L01P0", Word(45)), c.result) << c.loggedReply;
        const bool recovered = Requests().back() == "S?\r";
        EXPECT_EQ(recovered, c.result == 1) << c.loggedReply;
        std::vector<LogLine> expected{
            {64, "setTabularVal():entered  valType = P, val = 45.000000"}};
        if (recovered) {
            expected.push_back({64, "ZEL04: EM: resetError(): success rc = 0"});
        }
        for (const LogLine &failure : FailureLines(c.result, c.loggedRequest, c.loggedReply)) {
            expected.push_back(failure);
        }
        EXPECT_EQ(CapturedLog(), expected);
        EXPECT_EQ(state.replyTerminator, 3);
    }
}

TEST_F(SingleWriteTest, SpecialWordsSendTheirRequestOrAnswerAtOnce) {
    const struct {
        const char *word;
        Cell cell;
        std::int32_t dataType;
        const char *request; // nullptr: nothing is sent
        int result;
    } cases[] = {
        {"SX", Word(0), EM_TYPE_UINT16, "SX\r", 0},
        {"SX", Word(1), EM_TYPE_UINT16, nullptr, 1},
        {"S?", Word(0), EM_TYPE_FLOAT, "SI\r", 0},
        {"S?", Word(1), EM_TYPE_UINT16, nullptr, 1},
        {"DISP", Word(1), EM_TYPE_UINT16, "SOTURN KEY OFF\r", 0},
        {"DISP", Word(0), EM_TYPE_INT32, "SB\r", 0},
        {"DISP", Word(2), EM_TYPE_UINT16, nullptr, 1},
        {"DISP", Whole(1.0F), EM_TYPE_FLOAT, nullptr, 1},
        {"NL", Word(0), EM_TYPE_UINT16, nullptr, 1},
        {"NM", Word(0), EM_TYPE_UINT16, nullptr, 1},
        {"NA", Word(0), EM_TYPE_UINT16, nullptr, 1},
        {"XS0", Word(0), EM_TYPE_UINT16, nullptr, 1},
        {"INIT", Word(7), EM_TYPE_UINT16, nullptr, 0},
    };
    for (const auto &c : cases) {
        SetUp();
        state.replyTerminator = 10; // left as it is
        if (c.request != nullptr) {
            line().Expect(c.request).Reply("***\r\n");
        }
        EXPECT_EQ(Write(c.word, c.cell, c.dataType), c.result) << c.word;
        EXPECT_EQ(Requests(), c.request != nullptr ? std::vector<std::string>{c.request}
                                                   : std::vector<std::string>{})
            << c.word;
        EXPECT_EQ(state.replyTerminator, 10);
        EXPECT_TRUE(CapturedLog().empty()) << c.word;
    }
}

TEST_F(SingleWriteTest, SpecialWordWithoutReplyPausesASecond) {
    line().ExpectSilence("SX\r");
    EXPECT_EQ(Write("SX", Word(0)), 2);
    EXPECT_EQ(line().Now(), 200u + 1000u + 50u + 1000u) << "timeout, then the second's pause";
    EXPECT_EQ(CapturedLog(), FailureLines(2, "SX\r", ""));
}

TEST_F(SingleWriteTest, RefusedWithoutSendingAnything) {
    constexpr float kInfinity = std::numeric_limits<float>::infinity();
    const struct {
        const char *address;
        Cell cell;
        std::int32_t dataType;
        std::int32_t itemClass;
        std::vector<LogLine> log;
    } cases[] = {
        {"A07", Word(1), EM_TYPE_BIT, 0, {}},
        {"L01S0", Word(1), EM_TYPE_UINT16, 'B', {}},
        {"L01S",
         Word(1),
         EM_TYPE_UINT16,
         0,
         {{64, "ZEL4: EM: SingleWrite(): not an item address: L01S"}}},
        {"L01S00",
         Word(1),
         EM_TYPE_UINT16,
         0,
         {{64, "ZEL4: EM: SingleWrite(): not an item address: L01S00"}}},
        {"L01S0",
         Whole(kInfinity),
         EM_TYPE_FLOAT,
         0,
         {{64, "ZEL4: EM: SingleWrite(): no number text for val = inf"}}},
        {"M01V0",
         Whole(1e16F),
         EM_TYPE_FLOAT,
         0,
         {{64, "ZEL4: EM: SingleWrite(): no number text for val = 10000000272564224.000000"}}},
        {"L01P0",
         Word(7),
         EM_TYPE_UINT16,
         0,
         {{64, "setTabularVal():entered  valType = P, val = 7.000000"},
          {64, "setTabularVal(): Fail valType = P, val = 7.000000"}}},
        {"L01M0",
         Word(static_cast<std::uint16_t>(-1)),
         EM_TYPE_INT16,
         0,
         {{64, "setTabularVal():entered  valType = M, val = -1.000000"},
          {64, "setTabularVal(): Fail valType = M, val = -1.000000"}}},
    };
    for (const auto &c : cases) {
        SetUp();
        EXPECT_EQ(Write(c.address, c.cell, c.dataType, c.itemClass), 1) << c.address;
        EXPECT_TRUE(line().Writes().empty()) << c.address;
        EXPECT_EQ(CapturedLog(), c.log) << c.address;
    }
    SetUp();
    state.enabled = 0;
    EXPECT_EQ(Write("L01S0", Word(1)), 1);
    EXPECT_TRUE(line().Writes().empty());
    EXPECT_TRUE(CapturedLog().empty());
}

} // namespace
