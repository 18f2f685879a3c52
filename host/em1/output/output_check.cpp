#include "output_check.h"

#include "failure.h"
#include "platform.h"

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>

namespace {

// The errno of a failed flush of out, or nothing when everything written reached it.
std::optional<int> FlushError(std::FILE *out) {
    errno = 0;
    if (std::fflush(out) == 0 && std::ferror(out) == 0) {
        return std::nullopt;
    }
    return errno;
}

std::string WriteError(int error) {
    return "cannot write to standard output: " +
           std::string(error != 0 ? std::strerror(error) : "write error");
}

} // namespace

void CheckOutput(std::FILE *out) {
    if (const auto error = FlushError(out)) {
        throw Failure(FailureKind::kOutputFailed, WriteError(*error) + "; what was read is lost");
    }
}

void FinishOutput(std::FILE *out) {
    CheckOutput(out);
}

void FinishTextOutput(std::FILE *out) {
    const auto error = FlushError(out);
    if (error && !StandardOutputPipeClosed(*error)) {
        throw Failure(FailureKind::kOutputFailed, WriteError(*error));
    }
}

void RequireStandardOutput() {
    if (!StandardOutputOpen()) {
        throw Failure(FailureKind::kOutputFailed, "standard output is closed");
    }
}
