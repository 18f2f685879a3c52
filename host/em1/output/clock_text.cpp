#include "clock_text.h"

#include "number_text.h"

#include <cmath>
#include <cstdio>
#include <ctime>

namespace {

struct Split {
    std::tm calendar{};
    int millis = 0;
};

Split SplitUtc(std::chrono::system_clock::time_point when) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    Split split;
    split.millis = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count() %
        1000);
#ifdef _WIN32
    gmtime_s(&split.calendar, &seconds);
#else
    gmtime_r(&seconds, &split.calendar);
#endif
    return split;
}

} // namespace

std::string UtcStamp(std::chrono::system_clock::time_point when) {
    const Split split = SplitUtc(when);
    char text[40];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &split.calendar);
    std::snprintf(text + n, sizeof text - n, ".%03dZ", split.millis);
    return text;
}

std::string SecondsText(std::chrono::steady_clock::duration duration) {
    return FormatNumber(std::round(std::chrono::duration<double>(duration).count() * 1000) / 1000);
}
