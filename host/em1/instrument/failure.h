// What went wrong, in em1's own words, and the failure that carries it up to the command
// line. The layers below the command line say what happened; only the command line turns
// it into an exit status.
#pragma once

#include <stdexcept>
#include <string>

enum class FailureKind {
    kUsage,           // a bad command, option, option value or item address
    kBadValue,        // a value that could not be decoded or written
    kNoDriver,        // the driver library cannot be loaded, or is not the EM-1 driver
    kNoAnswer,        // the instrument does not answer, or its adapter is not ready
    kPortUnavailable, // the serial port cannot be opened
    kOutputFailed,    // standard output could not take what em1 wrote
    kUnconfirmed,     // a write was sent but not acknowledged: it may have been applied
    kRefused,         // the instrument refused a request
    kTraceUnreadable, // the driver's line trace cannot be made, or a line of it read
    kTraceUnknown,    // the driver writes its line trace in a version em1 does not know
};

// Ends what em1 is doing; the message says why.
class Failure : public std::runtime_error {
  public:
    Failure(FailureKind kind, const std::string &message)
        : std::runtime_error(message), kind_(kind) {}
    FailureKind Kind() const { return kind_; }

  private:
    FailureKind kind_;
};

// A failure of what the user gave: a command, an option or its value, an item address.
class UsageError : public Failure {
  public:
    explicit UsageError(const std::string &message) : Failure(FailureKind::kUsage, message) {}
};
