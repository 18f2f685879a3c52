// The command line's exit statuses, the one place where what went wrong becomes a number.
#include "exit_status.h"

#include <gtest/gtest.h>

namespace {

TEST(ExitStatus, EachFailureAndWriteOutcomeHasItsStatus) {
    const struct {
        FailureKind kind;
        int status;
    } failures[] = {
        {FailureKind::kUsage, 64},        {FailureKind::kBadValue, 65},
        {FailureKind::kNoDriver, 66},     {FailureKind::kTraceUnknown, 66},
        {FailureKind::kNoAnswer, 69},     {FailureKind::kPortUnavailable, 74},
        {FailureKind::kOutputFailed, 74}, {FailureKind::kTraceUnreadable, 74},
        {FailureKind::kUnconfirmed, 75},  {FailureKind::kRefused, 76},
    };
    for (const auto &[kind, status] : failures) {
        EXPECT_EQ(static_cast<int>(ExitStatusOf(kind)), status);
    }
    EXPECT_EQ(ExitStatusOf(std::optional<FailureKind>()), ExitStatus::kOk);

    const struct {
        WriteOutcome outcome;
        int status;
    } writes[] = {
        {WriteOutcome::kWritten, 0},  {WriteOutcome::kInexact, 65},
        {WriteOutcome::kNotSent, 69}, {WriteOutcome::kUnconfirmed, 75},
        {WriteOutcome::kRefused, 76},
    };
    for (const auto &[outcome, status] : writes) {
        EXPECT_EQ(static_cast<int>(ExitStatusOf(outcome)), status);
    }
}

} // namespace
