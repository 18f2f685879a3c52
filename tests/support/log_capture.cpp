// A test stand-in for the host support library's err(): formats with the same
// formatter and keeps every line.
#include "log_capture.h"

#include "hostlog.h"

#include <cstdarg>

std::vector<LogLine> &CapturedLog() {
    static std::vector<LogLine> lines;
    return lines;
}

void ClearCapturedLog() {
    CapturedLog().clear();
}

extern "C" int err(std::int32_t level, const char *format, ...) {
    char text[2048];
    va_list args;
    va_start(args, format);
    hostlog_vformat(text, sizeof text, format, args);
    va_end(args);
    CapturedLog().push_back(LogLine{level, text});
    return 0;
}
