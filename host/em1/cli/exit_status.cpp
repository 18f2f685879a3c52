#include "exit_status.h"

ExitStatus ExitStatusOf(FailureKind kind) {
    switch (kind) {
    case FailureKind::kUsage:
        return ExitStatus::kUsage;
    case FailureKind::kBadValue:
        return ExitStatus::kBadValue;
    case FailureKind::kNoDriver:
    case FailureKind::kTraceUnknown:
        return ExitStatus::kNoDriver;
    case FailureKind::kNoAnswer:
        return ExitStatus::kNoAnswer;
    case FailureKind::kPortUnavailable:
    case FailureKind::kOutputFailed:
    case FailureKind::kTraceUnreadable:
        return ExitStatus::kIoError;
    case FailureKind::kUnconfirmed:
        return ExitStatus::kUnconfirmed;
    case FailureKind::kRefused:
        return ExitStatus::kRefused;
    }
    return ExitStatus::kSoftware;
}

ExitStatus ExitStatusOf(std::optional<FailureKind> kind) {
    return kind ? ExitStatusOf(*kind) : ExitStatus::kOk;
}

ExitStatus ExitStatusOf(WriteOutcome outcome) {
    switch (outcome) {
    case WriteOutcome::kWritten:
        return ExitStatus::kOk;
    case WriteOutcome::kInexact:
        return ExitStatus::kBadValue;
    case WriteOutcome::kRefused:
        return ExitStatus::kRefused;
    case WriteOutcome::kNotSent:
        return ExitStatus::kNoAnswer;
    case WriteOutcome::kUnconfirmed:
        return ExitStatus::kUnconfirmed;
    }
    return ExitStatus::kSoftware;
}
