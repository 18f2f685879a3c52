// Replies as em1 reads them with the driver's decoding source, and what a failed read means:
// the numbers of single and block replies, and the words and outcome of each failure.
#include "reading.h"
#include "reply_number.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace {

using Numbers = std::vector<std::optional<double>>;

TEST(ReplyNumbers, ANumberIsReadAsTheLineCarriedItOrNotAtAll) {
    const struct {
        const char *reply;
        std::optional<double> number;
    } cases[] = {
        {"L01S=41.511\r\x03", 41.511},      {"L01S= -3.5E2\r\x03", -350},
        {"L01S=1e400\r\x03", std::nullopt}, {"L01M=AUTO\r\x03", std::nullopt},
        {"L01S=12.5C\r\x03", std::nullopt}, {"L01S=1.2.3\r\x03", std::nullopt},
        {"L01S=1.5E\r\x03", std::nullopt},  {"L01S=0x10\r\x03", std::nullopt},
        {"L01S=inf\r\x03", std::nullopt},   {"L01S=-nan\r\x03", std::nullopt},
        {"L01S\r\x03", std::nullopt},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(SingleReplyNumber(c.reply), c.number) << c.reply;
    }
}

TEST(ReplyNumbers, ABlockIsReadFromTheLineOfItsFirstItem) {
    const std::string loops = "1,12.5, 20.25,0,OK\r\n"
                              "2,42500,-1.5,1.2.3,HD\r\n"
                              "3,7,8\r\n\x03";
    const struct {
        std::string reply, address;
        std::size_t count;
        Numbers numbers;
    } cases[] = {
        {loops, "L01S0", 4, {12.5, 20.25, 0, std::nullopt}},
        {loops, "L02S3", 8, {42500, -1.5, std::nullopt, std::nullopt, 7, 8}},
        {loops, "L01S0", 2, {12.5, 20.25}},
        {loops, "L04S0", 4, {}},
        {"5,1,OK\r\n0,2,OK\r\n1,3,OK\r\n", "M01V0", 2, {}}, // the search ends at a 0
    };
    for (const auto &c : cases) {
        EXPECT_EQ(BlockReplyNumbers(c.reply, c.address, c.count), c.numbers) << c.address;
    }
    EXPECT_EQ(NarrowedToFloat(1e39), std::numeric_limits<float>::infinity());
}

TEST(ReadFailures, SayWhyAndWhatKindOfFailureEach) {
    const struct {
        std::int32_t result;
        bool tokenUndecoded;
        std::optional<std::string> reply, foreign;
        FailureKind kind;
        std::string message;
    } cases[] = {
        {EM_COMM_FAILURE, false, "", std::nullopt, FailureKind::kNoAnswer,
         "L01S1: no answer from the instrument (SingleRead result 2)"},
        {EM_REFUSED, false, "?\r\n", std::nullopt, FailureKind::kRefused,
         "L01S1: the instrument refused the request (SingleRead result 1)"},
        {EM_REFUSED, false, "L01S=x\r\x03", std::nullopt, FailureKind::kBadValue,
         "L01S1: the reply does not decode: \"L01S=x\\r\\x03\" (SingleRead result 1)"},
        {EM_REFUSED, true, "L01M=FAST\r\x03", std::nullopt, FailureKind::kBadValue,
         "L01S1: the reply held a token em1 cannot name (SingleRead result 1)"},
        {EM_COMM_FAILURE, false, "", "L02S=27.0\r\x03", FailureKind::kNoAnswer,
         "L01S1: no reply to this request; the reply \"L02S=27.0\\r\\x03\" answers another "
         "request and was discarded (SingleRead result 2)"},
        {EM_REFUSED, false, std::nullopt, std::nullopt, FailureKind::kRefused,
         "L01S1: the instrument refused the request, or its reply did not decode (SingleRead "
         "result 1; -vv shows the reply)"},
    };
    for (const auto &c : cases) {
        const ReadProblem problem = DescribeReadFailure("SingleRead", "L01S1", c.result,
                                                        c.tokenUndecoded, c.reply, c.foreign);
        EXPECT_EQ(problem.kind, c.kind) << c.message;
        EXPECT_EQ(problem.message, c.message);
        EXPECT_EQ(problem.foreign.empty(), !c.foreign.has_value());
    }
}

} // namespace
