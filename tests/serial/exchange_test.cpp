// The exchange, the reply check and resetError against a scripted instrument on a virtual
// clock: bytes on the line, result codes, log lines and time in milliseconds.
#include "log_capture.h"
#include "scripted_line.h"
#include "serial/exchange.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::int32_t kDriverNumber = 7;
constexpr std::uint64_t kFreshTimeoutMs = 1000;

class ExchangeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        line.Reset();
        ClearCapturedLog();
        const PortSettings settings{"COM1", {9600, 8, 0, 0}, 0x0200};
        ASSERT_EQ(SerialOpen(settings, state.portHandle), SerialResult::kOk);
        state.replyTerminator = kEtx;
    }

    ExchangeResult Run(const char *request) { return Exchange(call, request, reply); }

    ScriptedLine &line = ScriptedLine::Instance();
    DriverState state{};
    DriverCall call{&state, EM_CMD_SINGLE_READ, kDriverNumber, 0, nullptr};
    char reply[kReplyBufferSize] = {};
};

struct ReplyCase {
    const char *name;
    std::uint8_t terminator;
    std::string answer;
    ExchangeResult result;
    std::string text;
    std::uint64_t elapsedMs; // two pauses, plus 50 ms when the final purge drains leftovers
};

class ReplyTest : public ExchangeTest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(ReplyTest, ReadsTheReplyUpToItsEnd) {
    const ReplyCase &c = GetParam();
    state.replyTerminator = c.terminator;
    line.Expect("L01S?\r").Reply(c.answer);

    EXPECT_EQ(Run("L01S?\r"), c.result);

    EXPECT_EQ(std::string(reply), c.text);
    EXPECT_EQ(line.Now(), c.elapsedMs);
    EXPECT_EQ(line.Waiting(), 0u) << "bytes after the reply are purged";
    EXPECT_EQ(line.ReadTimeoutMs(state.portHandle), 1000) << "the purge restores the timeout";
}

const std::string kCut(kReplyLimit, 'x');

INSTANTIATE_TEST_SUITE_P(
    Exchange, ReplyTest,
    ::testing::Values(
        ReplyCase{"EtxEndsTheReply", kEtx, "A\r\n\x03", ExchangeResult::kOk, "A\r\n\x03", 250},
        ReplyCase{"LineFeedEndsTheReply", kLineFeed, "A\r\n\x03", ExchangeResult::kOk, "A\r\n",
                  300},
        ReplyCase{"FloodIsCutAt591", kEtx, std::string(600, 'x'), ExchangeResult::kOverflow, kCut,
                  300},
        ReplyCase{"CutReplyEndingInCrIsComplete", kEtx, std::string(590, 'x') + "\r\x03",
                  ExchangeResult::kOk, std::string(590, 'x') + "\r", 300},
        ReplyCase{"PartialReplyKeepsItsBytes", kEtx, "ok\rzz", ExchangeResult::kIoFailed, "ok\rzz",
                  250 + kFreshTimeoutMs},
        ReplyCase{"SilenceGivesAnEmptyReply", kEtx, "", ExchangeResult::kIoFailed, "",
                  250 + kFreshTimeoutMs}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(ExchangeTest, SilentExchangeTakesThePausesAndOneReadTimeout) {
    line.ExpectSilence("L01S?\r");

    EXPECT_EQ(Run("L01S?\r"), ExchangeResult::kIoFailed);

    EXPECT_EQ(line.Now(), 250 + kFreshTimeoutMs);
    const std::vector<std::string> calls{"open COM1", "purge",    "write L01S?\\r",
                                         "pause 200", "pause 50", "purge"};
    EXPECT_EQ(line.Trace(), calls);
    EXPECT_EQ(line.Pending(), 0u);
    EXPECT_TRUE(line.Unexpected().empty());
}

TEST_F(ExchangeTest, ReplyArrivingLaterIsAwaitedUpToTheReadTimeout) {
    line.Expect("A\r").Reply("late\x03").After(700);
    line.Expect("B\r").Reply("too late\x03").After(200 + kFreshTimeoutMs + 1);

    EXPECT_EQ(Run("A\r"), ExchangeResult::kOk);
    EXPECT_STREQ(reply, "late\x03");
    EXPECT_EQ(line.Now(), 750u);

    EXPECT_EQ(Run("B\r"), ExchangeResult::kIoFailed);
    EXPECT_STREQ(reply, "");
}

TEST_F(ExchangeTest, EmptyRequestSendsNothingAndReadsAReply) {
    line.Arrive("ok\x03", 100);

    EXPECT_EQ(Run(""), ExchangeResult::kOk);

    EXPECT_STREQ(reply, "ok\x03");
    EXPECT_TRUE(line.Writes().empty());
}

TEST_F(ExchangeTest, FailedSendEndsAfterThePauseWithoutReading) {
    struct {
        void (*fault)(ScriptedLine &);
        ExchangeResult result;
        std::vector<ScriptedLine::Sent> writes;
    } const cases[] = {
        {[](ScriptedLine &l) { l.FailNextWrite(); }, ExchangeResult::kIoFailed, {}},
        {[](ScriptedLine &l) { l.ShortNextWrite(2); }, ExchangeResult::kShortWrite, {{0, "L0"}}},
    };
    for (const auto &c : cases) {
        SetUp();
        c.fault(line);
        line.Arrive("unread\x03", 1);
        std::memset(reply, '#', sizeof reply);

        EXPECT_EQ(Run("L01S?\r"), c.result);

        EXPECT_EQ(line.Writes(), c.writes);
        EXPECT_EQ(line.Pauses(), std::vector<std::uint32_t>{200});
        EXPECT_EQ(line.Waiting(), 7u) << "nothing is read";
        EXPECT_EQ(reply[0], '\0') << "an earlier reply never stands in for the missing one";
    }
}

// A reply whose start names another request (a late reply to an earlier one) is thrown away
// with a log line and a trace event, and the reply to this request is read after it; a reply
// that names nothing is taken as before. "Y\r" is the confirmation of the write "L01P=45.0\r".
struct ForeignCase {
    const char *name;
    std::string request;
    std::uint8_t terminator;
    std::string foreign; // at once
    std::string own;     // 100 ms later; "" for none
    ExchangeResult result;
    std::string text;
    std::size_t discarded; // foreign replies logged; the first is shown as foreignShown
    std::string foreignShown;
};

class ForeignReplyTest : public ExchangeTest, public ::testing::WithParamInterface<ForeignCase> {};

TEST_P(ForeignReplyTest, IsThrownAwayAndTheOwnReplyRead) {
    const ForeignCase &c = GetParam();
    state.replyTerminator = c.terminator;
    line.Expect(c.request).Reply(c.foreign).Reply(c.own).After(100);

    const ExchangeResult result =
        c.request != "Y\r"
            ? Run(c.request.c_str())
            : (Ask(call, "Y\r"), ReadReply(call, SubjectsOfConfirmation("L01P=45.0\r"), reply));

    EXPECT_EQ(result, c.result);
    EXPECT_EQ(std::string(reply), c.text);
    ASSERT_EQ(CapturedLog().size(), c.discarded);
    if (c.discarded > 0) {
        EXPECT_EQ(CapturedLog()[0],
                  (LogLine{64, "ZEL7: EM: ReadReply(): discarded the reply to another request: \"" +
                                   c.foreignShown + "\""}));
    }
    EXPECT_EQ(std::ranges::count(line.Trace(), "event foreign reply discarded"),
              static_cast<long>(c.discarded));
    EXPECT_LE(line.Now(), 250 + 100 + kFreshTimeoutMs);
}

const std::string kOtherValue = "L02S=202.5\r\x03";
const std::string kChatter = [] {
    std::string bytes;
    for (int i = 0; i < 60; ++i) {
        bytes += kOtherValue;
    }
    return bytes;
}();

INSTANTIATE_TEST_SUITE_P(
    Exchange, ForeignReplyTest,
    ::testing::Values(
        ForeignCase{"WriteAfterAnotherWritesAcknowledgement", "L01S=12.500\r", kLineFeed,
                    "L02S=202.5 ***\r\n", "L01S=12.5 ***\r\n", ExchangeResult::kOk,
                    "L01S=12.5 ***\r\n", 1, "L02S=202.5 ***\\r\\n"},
        ForeignCase{"WriteAfterAnotherItemsQuestion", "L01P=45.0\r", kLineFeed,
                    "L02P? 45.0 Y/N\r\n", "L01P? 45.0 Y/N\r\n", ExchangeResult::kOk,
                    "L01P? 45.0 Y/N\r\n", 1, "L02P? 45.0 Y/N\\r\\n"},
        ForeignCase{"ConfirmationAfterAnotherItemsValue", "Y\r", kEtx, kOtherValue,
                    "L01P=45.0 ***\r\x03", ExchangeResult::kOk, "L01P=45.0 ***\r\x03", 1,
                    "L02S=202.5\\r\\x03"},
        ForeignCase{"ReadAfterAQuestionOfTheSameItem", "L01P?\r", kEtx, "L01P? 45.0 Y/N\r\n",
                    "L01P=45.0\r\x03", ExchangeResult::kOk, "L01P=45.0\r\x03", 1,
                    "L01P? 45.0 Y/N\\r\\n"},
        ForeignCase{"ReadAfterTheSameItemsAcknowledgement", "L01S?\r", kEtx, "L01S=12.5 ***\r\n",
                    "L01S=26.0\r\x03", ExchangeResult::kOk, "L01S=26.0\r\x03", 1,
                    "L01S=12.5 ***\\r\\n"},
        ForeignCase{"AlertListAfterAnItemsValue", "SA?\r", kEtx, kOtherValue,
                    "ALERTS 1\r\nCC\r\n\x03", ExchangeResult::kOk, "ALERTS 1\r\nCC\r\n\x03", 1,
                    "L02S=202.5\\r\\x03"},
        ForeignCase{"ReadAfterAnAlertListToItsEtx", "L01S?\r", kEtx, "ALERTS 1\r\nCC\r\n\x03",
                    "L01S=26.0\r\x03", ExchangeResult::kOk, "L01S=26.0\r\x03", 1,
                    "ALERTS 1\\r\\nCC\\r\\n\\x03"},
        ForeignCase{"SummaryAfterTheOtherSummary", "DMVX\r", kLineFeed, "DLSV%X ***\r\n",
                    "DMVX ***\r\n", ExchangeResult::kOk, "DMVX ***\r\n", 1, "DLSV%X ***\\r\\n"},
        ForeignCase{"UnnamedReplyAfterANamedOne", "XS0\r", kEtx, kOtherValue, "REV 2.14\r\x03",
                    ExchangeResult::kOk, "REV 2.14\r\x03", 1, "L02S=202.5\\r\\x03"},
        ForeignCase{"ReplyNamingNothingIsTaken", "L02M?\r", kEtx, "***\r\x03", "L02M=MANUAL\r\x03",
                    ExchangeResult::kOk, "***\r\x03", 0, ""},
        // 591 bytes of foreign replies at most: 49 whole ones of 12 bytes, and the 50th cut.
        ForeignCase{"ChatterIsBounded", "L02M?\r", kEtx, kChatter, "L02M=MANUAL\r\x03",
                    ExchangeResult::kIoFailed, "", 50, "L02S=202.5\\r\\x03"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(CheckReplyTest, ClassifiesByTheFirstCharacter) {
    struct {
        const char *reply;
        ReplyCheck result;
    } const cases[] = {{"", ReplyCheck::kEmpty},           {nullptr, ReplyCheck::kEmpty},
                       {"?", ReplyCheck::kRefused},        {"?\r", ReplyCheck::kRefused},
                       {"L01S1=5\x03", ReplyCheck::kGood}, {"7", ReplyCheck::kGood}};
    for (const auto &c : cases) {
        EXPECT_EQ(CheckReply(c.reply), c.result) << (c.reply ? c.reply : "null");
    }
}

struct ResetCase {
    const char *name;
    std::vector<std::pair<std::string, std::uint64_t>> answer; // bytes and arrival time
    bool failRead;
    int result;
    std::uint64_t elapsedMs;
};

class ResetErrorTest : public ExchangeTest, public ::testing::WithParamInterface<ResetCase> {};

TEST_P(ResetErrorTest, AsksForTheStatusAndLooksForTheReadyMark) {
    const ResetCase &c = GetParam();
    line.ExpectSilence("S?\r");
    for (const auto &[bytes, at] : c.answer) {
        line.Arrive(bytes, at);
    }
    if (c.failRead) {
        line.FailNextRead();
    }

    EXPECT_EQ(resetError(call), c.result);

    const char *outcome = c.result == 0 ? "success rc = 0" : "fail rc = 2";
    const std::vector<LogLine> log{{64, std::string("ZEL07: EM: resetError(): ") + outcome}};
    EXPECT_EQ(CapturedLog(), log);
    EXPECT_EQ(line.Now(), c.elapsedMs);
    EXPECT_EQ(line.Trace().at(1), "write S?\\r") << "no purge before the request";
    EXPECT_EQ(line.Trace().back(), "purge");
}

const std::string kFlood(600, 'x');

INSTANTIATE_TEST_SUITE_P(
    ResetError, ResetErrorTest,
    ::testing::Values(ResetCase{"ReadyAtOnce", {{"***\r", 0}}, false, 0, 0},
                      ResetCase{"ReadyAfterThreePolls", {{"***\r", 1200}}, false, 0, 1500},
                      ResetCase{"SilentLineWaitsFiveSeconds", {}, false, 2, 5000},
                      ResetCase{"AnswerTooLateForTheWait", {{"***\r", 5001}}, false, 2, 5000},
                      ResetCase{
                          "JudgedOnTheFirstPartAlone", {{"**", 0}, {"*\r", 800}}, false, 2, 0},
                      ResetCase{"AnswerWithoutMark", {{"S1\r", 0}}, false, 2, 0},
                      // The mark lies beyond the 590 bytes collected; the rest is purged (50 ms).
                      ResetCase{"MarkBeyondTheCollection", {{kFlood + "***\r", 0}}, false, 2, 50},
                      ResetCase{"FailedRead", {{"***\r", 0}}, true, 2, 50}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
