#include "output_check.h"

#include "exit_status.h"
#include "platform.h"

#include <cerrno>
#include <cstring>
#include <string>

void CheckOutput(std::FILE *out) {
    errno = 0;
    if (std::fflush(out) == 0 && std::ferror(out) == 0) {
        return;
    }
    const int error = errno;
    throw Failure(ExitStatus::kOutputFailed,
                  "cannot write to standard output: " +
                      std::string(error != 0 ? std::strerror(error) : "write error") +
                      "; what was read is lost");
}

void FinishOutput(std::FILE *out) {
    CheckOutput(out);
}

void RequireStandardOutput() {
    if (!StandardOutputOpen()) {
        throw Failure(ExitStatus::kOutputFailed, "standard output is closed");
    }
}
