// The exit statuses of em1, in the vocabulary of sysexits.h that scripts already know, and
// the failure that carries one of them up to main.
#pragma once

#include <stdexcept>
#include <string>

enum class ExitStatus : int {
    kOk = 0,
    kUsage = 64,           // a bad command, option, option value or item address
    kBadValue = 65,        // a value that could not be decoded or written
    kNoDriver = 66,        // the driver library cannot be loaded
    kNoAnswer = 69,        // the instrument does not answer, or its adapter is not ready
    kPortUnavailable = 74, // the serial port cannot be opened
    kOutputFailed = 74,    // standard output could not take what em1 wrote
    kUnconfirmed = 75,     // a write was sent but not acknowledged: it may have been applied
    kRefused = 76,         // the instrument refused a request
};

// Ends the command: main prints "em1: " and the message on standard error and exits with
// the status.
class Failure : public std::runtime_error {
  public:
    Failure(ExitStatus status, const std::string &message)
        : std::runtime_error(message), status_(status) {}
    ExitStatus Status() const { return status_; }

  private:
    ExitStatus status_;
};

// A failure of the command line; main adds a pointer to the help of the command, or to
// em1 --help.
class UsageError : public Failure {
  public:
    explicit UsageError(const std::string &message) : Failure(ExitStatus::kUsage, message) {}
};

// The table of exit statuses, for the help text.
const char *ExitStatusTable();
