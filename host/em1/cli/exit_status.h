// The exit statuses of em1, in the vocabulary of sysexits.h that scripts already know. The
// command line alone maps what went wrong (FailureKind) to them.
#pragma once

#include "failure.h"
#include "verified_write.h"

#include <optional>

enum class ExitStatus : int {
    kOk = 0,
    kUsage = 64,       // a bad command, option, option value or item address
    kBadValue = 65,    // a value that could not be decoded or written
    kNoDriver = 66,    // the driver library cannot be loaded, or its trace is of another version
    kNoAnswer = 69,    // the instrument does not answer, or its adapter is not ready
    kSoftware = 70,    // a fault of em1 itself
    kIoError = 74,     // the port cannot be opened, standard output or the trace not used
    kUnconfirmed = 75, // a write was sent but not acknowledged: it may have been applied
    kRefused = 76,     // the instrument refused a request
};

ExitStatus ExitStatusOf(FailureKind kind);

// Ok when nothing failed, else the status of what failed.
ExitStatus ExitStatusOf(std::optional<FailureKind> kind);

// The status of a write's outcome: Ok only for a write acknowledged and read back as given.
ExitStatus ExitStatusOf(WriteOutcome outcome);

// The table of exit statuses, for the help text.
const char *ExitStatusTable();
