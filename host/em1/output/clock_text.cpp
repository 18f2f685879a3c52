#include "clock_text.h"

#include <cstdio>
#include <ctime>

namespace {

struct Split {
    std::tm calendar{};
    int millis = 0;
};

Split SplitTime(std::chrono::system_clock::time_point when, bool utc) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    Split split;
    split.millis = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count() %
        1000);
#ifdef _WIN32
    utc ? gmtime_s(&split.calendar, &seconds) : localtime_s(&split.calendar, &seconds);
#else
    utc ? gmtime_r(&seconds, &split.calendar) : localtime_r(&seconds, &split.calendar);
#endif
    return split;
}

} // namespace

std::string UtcStamp(std::chrono::system_clock::time_point when) {
    const Split split = SplitTime(when, true);
    char text[40];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &split.calendar);
    std::snprintf(text + n, sizeof text - n, ".%03dZ", split.millis);
    return text;
}

std::string LocalClock(std::chrono::system_clock::time_point when) {
    const Split split = SplitTime(when, false);
    char text[24];
    const std::size_t n = std::strftime(text, sizeof text, "%H:%M:%S", &split.calendar);
    std::snprintf(text + n, sizeof text - n, ".%03d", split.millis);
    return text;
}
