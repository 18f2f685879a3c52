// A test stand-in for the host support library's err(): formats with the same
// formatter and keeps every line.
#include "log_capture.h"

#include "hostlog.h"

#include <cstdarg>
#include <string>

std::vector<LogLine> &CapturedLog() {
    static std::vector<LogLine> lines;
    return lines;
}

void ClearCapturedLog() {
    CapturedLog().clear();
}

extern "C" int err(std::int32_t level, const char *format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    std::string text(hostlog_vformat(nullptr, 0, format, args), '\0');
    va_end(args);
    hostlog_vformat(text.data(), text.size() + 1, format, again);
    va_end(again);
    CapturedLog().push_back(LogLine{level, text});
    return 0;
}
