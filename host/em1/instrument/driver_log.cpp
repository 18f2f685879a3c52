#include "driver_log.h"

#include "hostlog.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

namespace {

constexpr std::uint32_t kOutcomeLines = 32;
constexpr std::uint32_t kDetailLines = 64;

std::optional<std::uint32_t> MaskOfVerbosity(int verbosity) {
    if (verbosity <= 0) {
        return std::nullopt;
    }
    return verbosity == 1 ? kOutcomeLines : kOutcomeLines | kDetailLines;
}

// ZEL_LOG_MASK as the host log library reads it (decimal, or hexadecimal with 0x).
std::uint32_t MaskFromEnvironment() {
    const char *text = std::getenv("ZEL_LOG_MASK");
    if (text == nullptr || *text == '\0') {
        return 0;
    }
    char *end = nullptr;
    errno = 0;
    const unsigned long long mask = std::strtoull(text, &end, 0);
    if (*end != '\0' || errno != 0 || mask > 0xFFFFFFFFull || text[0] == '-') {
        std::fprintf(stderr,
                     "em1: warning: ZEL_LOG_MASK='%s' is not a number; the driver's log stays off "
                     "(32 outcome lines, 96 detail too)\n",
                     text);
        return 0;
    }
    if ((mask & (kOutcomeLines | kDetailLines)) == 0) {
        std::fprintf(stderr,
                     "em1: warning: ZEL_LOG_MASK=%s selects none of the driver's levels "
                     "(32 outcome lines, 64 detail lines); the driver's log stays off\n",
                     text);
    }
    return static_cast<std::uint32_t>(mask);
}

// Returns true when the lines go to standard error.
bool OpenSink() {
    const char *path = std::getenv("ZEL_LOG_FILE");
    if (path == nullptr || *path == '\0') {
        hostlog_open(nullptr);
        return true;
    }
    errno = 0;
    if (hostlog_open(path) == 0) {
        return false;
    }
    const int error = errno;
    std::fprintf(stderr,
                 "em1: warning: ZEL_LOG_FILE='%s' cannot be opened for appending (%s); the "
                 "driver's log goes to standard error\n",
                 path, error != 0 ? std::strerror(error) : "unknown reason");
    hostlog_open(nullptr);
    return true;
}

} // namespace

bool ConfigureDriverLog(int verbosity) {
    const bool toStandardError = OpenSink();
    const auto chosen = MaskOfVerbosity(verbosity);
    const std::uint32_t mask = chosen ? *chosen : MaskFromEnvironment();
    hostlog_set_mask(mask);
    return toStandardError && mask != 0;
}
