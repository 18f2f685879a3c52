// SingleRead and BlockRead against the scripted instrument on a virtual clock: the
// requests on the line, result codes, the values stored, log lines and time.
#include "em_driver.h"
#include "log_capture.h"
#include "scripted_line.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::int32_t kDriverNumber = 7;
constexpr std::uint64_t kExchangeMs = 250;     // the two pauses of one exchange
constexpr std::uint64_t kReadTimeoutMs = 1000; // a fresh port's read timeout

class ReadingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Line().Reset();
        ClearCapturedLog();
        ASSERT_EQ(Line().OpenReady(state), SerialResult::kOk);
        std::memset(values, 0xAB, sizeof values);
    }
    static ScriptedLine &Line() { return ScriptedLine::Instance(); }

    std::int32_t Read(std::int32_t command, const char *address, std::int32_t itemClass,
                      std::int32_t count = 1, std::int32_t dataType = EM_TYPE_INT16) {
        item = ItemRequest{};
        item.address = address;
        item.itemClass = itemClass;
        item.dataType = dataType;
        item.count = count;
        item.values = values;
        return Call(command, &item);
    }
    std::int32_t Call(std::int32_t command, void *params) {
        DriverCall call{&state, command, kDriverNumber, 0, params};
        return ZelMain(&call);
    }
    std::vector<std::string> Requests() const {
        std::vector<std::string> sent;
        for (const auto &write : Line().Writes()) {
            sent.push_back(write.bytes);
        }
        return sent;
    }
    // Everything the driver did on the line after the fixture opened the port.
    std::vector<std::string> LineActivity() const {
        return {Line().Trace().begin() + 1, Line().Trace().end()};
    }
    std::int16_t Word() const {
        std::int16_t word;
        std::memcpy(&word, values + 2, sizeof word);
        return word;
    }
    bool Untouched(std::size_t from = 0, std::size_t to = 16) const {
        for (std::size_t i = from; i < to; ++i) {
            if (values[i] != 0xAB) {
                return false;
            }
        }
        return true;
    }

    DriverState state{};
    ItemRequest item{};
    unsigned char values[16];
};

struct RequestCase {
    std::int32_t command;
    const char *address;
    std::int32_t itemClass;
    std::int32_t count;
    const char *request;
    const char *reply;
    std::int16_t first; // the first 16-bit value stored
};

class RequestText : public ReadingTest, public ::testing::WithParamInterface<RequestCase> {};

// The read commands do not look at the enabled flag: a disabled instance reads too.
TEST_P(RequestText, OneRequestOneExchangeAndTheValueStored) {
    const RequestCase &c = GetParam();
    state.enabled = 0;
    Line().Expect(c.request).Reply(c.reply);
    EXPECT_EQ(Read(c.command, c.address, c.itemClass, c.count), 0);
    EXPECT_EQ(Requests(), std::vector<std::string>{c.request});
    EXPECT_EQ(Line().Now(), kExchangeMs);
    EXPECT_TRUE(CapturedLog().empty());
    std::int16_t first;
    std::memcpy(&first, values + (c.count >= 2 ? 0 : 2), sizeof first);
    EXPECT_EQ(first, c.first);
}

const char *const kLoopBlock = "1,26,26,50,OK\r\n2,27,27.5,50,HD\r\n\x03";

INSTANTIATE_TEST_SUITE_P(
    Items, RequestText,
    ::testing::Values(
        RequestCase{EM_CMD_SINGLE_READ, "L01S1", 'L', 1, "L01S?\r", "L01S=12.5\r\x03", 125},
        RequestCase{EM_CMD_SINGLE_READ, "M12X3", 'M', 1, "M12X?\r", "M12X=HD\r\x03", 8},
        RequestCase{EM_CMD_SINGLE_READ, "L01", 'L', 1, "L01?\r", "L01=4\r\x03", 4},
        RequestCase{EM_CMD_SINGLE_READ, "NL", 'G', 1, "XC\r", "29,35,2\r\x03", 29},
        RequestCase{EM_CMD_SINGLE_READ, "NM", 'G', 1, "XC\r", "29,35,2\r\x03", 35},
        RequestCase{EM_CMD_SINGLE_READ, "NA", 'G', 1, "SS\r", "2\r\x03", 2},
        RequestCase{EM_CMD_SINGLE_READ, "S?", 'G', 1, "S?\r", "ERR ***\r\x03", 1},
        RequestCase{EM_CMD_SINGLE_READ, "XS0", 'G', 1, "XS0\r", "REV 2.14\r\x03", 214},
        RequestCase{EM_CMD_SINGLE_READ, "A00", 'A', 1, "SA?\r", "ALERTS\r\nAA\r\n\x03", 1},
        RequestCase{EM_CMD_BLOCK_READ, "A00", 'A', 2, "SA?\r", "ALERTS\r\nAA\r\n\x03", 1},
        RequestCase{EM_CMD_BLOCK_READ, "L02S0", 'L', 4, "SL?\r", kLoopBlock, 27},
        RequestCase{EM_CMD_BLOCK_READ, "M02V1", 'M', 2, "SM?\r", "1,1.5,OK\r\n2,2.5,OK\r\n\x03",
                    25}));

// "SX", "DISP" and "INIT" are answered from the driver's state, with no request, no time
// and no log line.
TEST_F(ReadingTest, WordsAnsweredWithoutTheInstrument) {
    EXPECT_EQ(Read(EM_CMD_SINGLE_READ, "SX", EM_CLASS_SPECIAL), 0);
    EXPECT_TRUE(Untouched());
    EXPECT_EQ(Read(EM_CMD_SINGLE_READ, "DISP", EM_CLASS_SPECIAL), 0);
    EXPECT_EQ(Word(), 0);
    EXPECT_TRUE(Untouched(0, 2));
    EXPECT_TRUE(Untouched(4));
    for (const std::uint8_t ready : {1, 0}) {
        state.adapterReady = ready;
        EXPECT_EQ(Read(EM_CMD_SINGLE_READ, "INIT", EM_CLASS_SPECIAL), 0);
        EXPECT_EQ(Word(), ready);
    }
    EXPECT_TRUE(LineActivity().empty());
    EXPECT_EQ(Line().Now(), 0u);
    EXPECT_TRUE(CapturedLog().empty());
}

// Any other class sends nothing and still reads; the reply is decoded as nothing.
TEST_F(ReadingTest, OtherClassRunsTheExchangeWithAnEmptyRequest) {
    for (const std::int32_t command : {EM_CMD_SINGLE_READ, EM_CMD_BLOCK_READ}) {
        const std::uint64_t start = Line().Now();
        Line().Arrive("5\r\x03", start + 100); // after the purge that precedes the request
        EXPECT_EQ(Read(command, "B01S0", 'B'), 0);
        EXPECT_EQ(Line().Now() - start, kExchangeMs);
    }
    EXPECT_TRUE(Line().Writes().empty());
    EXPECT_TRUE(Untouched());
}

// A refused or empty reply: one recovery exchange, then result 1 and the three lines.
struct RefusalCase {
    std::int32_t command;
    const char *address;
    std::int32_t itemClass;
    const char *request;
    std::string reply;
    const char *replyLine;
};

class Refusal : public ReadingTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(Refusal, RunsResetErrorOnceAndLogsTheFailure) {
    const RefusalCase &c = GetParam();
    Line().Expect(c.request).Reply(c.reply);
    Line().Expect("S?\r").Reply("***\r\x03");
    EXPECT_EQ(Read(c.command, c.address, c.itemClass), 1);
    EXPECT_EQ(Requests(), (std::vector<std::string>{c.request, "S?\r"}));
    EXPECT_EQ(CapturedLog(),
              (std::vector<LogLine>{{64, "ZEL07: EM: resetError(): success rc = 0"},
                                    {32, c.command == EM_CMD_SINGLE_READ && c.itemClass != 'A'
                                             ? "ZEL7: EM: SingleRead(): Failed rc = 1"
                                             : "ZEL7: EM: BlockRead(): Failed rc = 1"},
                                    {64, std::string("\trequest: ") + c.request},
                                    {64, c.replyLine}}));
    EXPECT_TRUE(Untouched());
}

INSTANTIATE_TEST_SUITE_P(Replies, Refusal,
                         ::testing::Values(RefusalCase{EM_CMD_SINGLE_READ, "L40S0", 'L', "L40S?\r",
                                                       "?\r\x03", "\treply: ?\r\x03"},
                                           RefusalCase{EM_CMD_SINGLE_READ, "L01S0", 'L', "L01S?\r",
                                                       std::string("\0\x03", 2), "\treply: "},
                                           RefusalCase{EM_CMD_SINGLE_READ, "A05", 'A', "SA?\r",
                                                       "?\x03", "\tEM: reply: ?\x03"},
                                           RefusalCase{EM_CMD_BLOCK_READ, "M01V0", 'M', "SM?\r",
                                                       "?\x03", "\tEM: reply: ?\x03"}));

// A failed exchange: no retry and no recovery, a 1000 ms pause, result 2, and a reply line
// that shows nothing of an earlier reply.
TEST_F(ReadingTest, ExchangeFailurePausesAndReturnsTwo) {
    Line().Expect("L01S?\r").Reply("L01S=1\r\x03");
    ASSERT_EQ(Read(EM_CMD_SINGLE_READ, "L01S0", EM_CLASS_LOOP), 0);
    ClearCapturedLog();
    const std::uint64_t start = Line().Now();

    Line().ExpectSilence("L01S?\r");
    EXPECT_EQ(Read(EM_CMD_SINGLE_READ, "L01S0", EM_CLASS_LOOP), 2);
    EXPECT_EQ(Line().Now() - start, kExchangeMs + kReadTimeoutMs + 1000);
    EXPECT_EQ(Line().Pauses().back(), 1000u);
    EXPECT_EQ(Requests().size(), 2u);
    EXPECT_EQ(CapturedLog(), (std::vector<LogLine>{{32, "ZEL7: EM: SingleRead(): Failed rc = 2"},
                                                   {64, "\trequest: L01S?\r"},
                                                   {64, "\treply: "}}));

    ClearCapturedLog();
    Line().FailNextWrite();
    EXPECT_EQ(Read(EM_CMD_BLOCK_READ, "M01V0", EM_CLASS_MODULE, 2), 2);
    EXPECT_EQ(Line().Pauses().back(), 1000u);
    EXPECT_EQ(CapturedLog(), (std::vector<LogLine>{{32, "ZEL7: EM: BlockRead(): Failed rc = 2"},
                                                   {64, "\trequest: SM?\r"},
                                                   {64, "\tEM: reply: "}}));
    EXPECT_TRUE(Untouched(4));
}

// A late reply to another item is never this item's value: with the right reply after it the
// right value is stored; alone, nothing is stored and the read fails as a silent one.
TEST_F(ReadingTest, ReplyToAnotherItemIsNeverStored) {
    Line().Expect("L02M?\r").Reply("L02S=202.5\r\x03").Reply("L02M=MANUAL\r\x03").After(100);
    EXPECT_EQ(Read(EM_CMD_SINGLE_READ, "L02M0", EM_CLASS_LOOP), 0);
    EXPECT_EQ(Word(), 1);

    std::memset(values, 0xAB, sizeof values);
    ClearCapturedLog();
    Line().Expect("L02M?\r").Reply("L02S=202.5\r\x03");
    EXPECT_EQ(Read(EM_CMD_SINGLE_READ, "L02M0", EM_CLASS_LOOP), 2);
    EXPECT_TRUE(Untouched());
    EXPECT_EQ(CapturedLog(), (std::vector<LogLine>{{64, "ZEL7: EM: ReadReply(): discarded the "
                                                        "reply to another request: "
                                                        "\"L02S=202.5\\r\\x03\""},
                                                   {32, "ZEL7: EM: SingleRead(): Failed rc = 2"},
                                                   {64, "\trequest: L02M?\r"},
                                                   {64, "\treply: "}}));
}

// A reply that does not decode: the decoders' lines, then the command's, with the reply as
// the decoder left it.
TEST_F(ReadingTest, DecodingFailureLogsTheCutReply) {
    Line().Expect("L01S?\r").Reply("L01S=FOO\r\x03");
    EXPECT_EQ(Read(EM_CMD_SINGLE_READ, "L01S0", EM_CLASS_LOOP), 1);
    EXPECT_EQ(Word(), 255);

    Line().Expect("XC\r").Reply("29\r\x03");
    EXPECT_EQ(Read(EM_CMD_SINGLE_READ, "NL", EM_CLASS_SPECIAL), 1);

    Line().Expect("SL?\r").Reply("1,5\r\n\x03");
    EXPECT_EQ(Read(EM_CMD_BLOCK_READ, "L02S0", EM_CLASS_LOOP, 2), 1);

    EXPECT_EQ(CapturedLog(), (std::vector<LogLine>{
                                 {64, "EM: StoreLoopData(): Failed rc = 1"},
                                 {32, "ZEL7: EM: SingleRead(): Failed rc = 1"},
                                 {64, "\trequest: L01S?\r"},
                                 {64, "\treply: L01S=FOO\r"},
                                 {64, "EM: StoreLoopData(): Failed rc = 1"},
                                 {64, "EM : StoreData(): Failed rc = 1"},
                                 {32, "ZEL7: EM: SingleRead(): Failed rc = 1"},
                                 {64, "\trequest: XC\r"},
                                 {64, "\treply: 29\r\x03"},
                                 {64, "EM: StoreLoopData(): Failed rc = 1"},
                                 {32, "ZEL7: EM: BlockRead(): Failed rc = 1"},
                                 {64, "\trequest: SL?\r"},
                                 {64, "\tEM: reply: 1,5\r\n\x03"},
                             }));
}

// A block without its state, its address or its value buffer is refused before anything
// reaches the line or the host's buffer.
TEST_F(ReadingTest, MissingPointersAreRefused) {
    for (const std::int32_t command : {EM_CMD_SINGLE_READ, EM_CMD_BLOCK_READ}) {
        EXPECT_EQ(Call(command, nullptr), 1);
        item = ItemRequest{nullptr, {}, EM_CLASS_SPECIAL, 0, {}, 1, 1, 0, values};
        EXPECT_EQ(Call(command, &item), 1);
        item = ItemRequest{"DISP", {}, EM_CLASS_SPECIAL, 0, {}, 1, 1, 0, nullptr};
        EXPECT_EQ(Call(command, &item), 1);
        item.values = values;
        DriverCall call{nullptr, command, kDriverNumber, 0, &item};
        EXPECT_EQ(ZelMain(&call), 1);
    }
    EXPECT_TRUE(Untouched());
    EXPECT_TRUE(LineActivity().empty());
    ASSERT_EQ(CapturedLog().size(), 8u * 3u);
    EXPECT_EQ(CapturedLog()[0], (LogLine{32, "ZEL7: EM: SingleRead(): Failed rc = 1"}));
    EXPECT_EQ(CapturedLog()[14], (LogLine{64, "\tEM: reply: "}));
}

} // namespace
