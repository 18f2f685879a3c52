// err() and its sink: one locked write per line, with a time stamp and the level.
#include "hostlog.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <mutex>
#include <new>

namespace {

struct Sink {
    std::mutex lock;
    std::FILE *file = nullptr; // nullptr: standard error
    std::uint32_t mask = 0xFFFFFFFFu;
    bool configured = false;
};

Sink &TheSink() {
    static Sink sink;
    return sink;
}

bool OpenFile(Sink &sink, const char *path) {
    if (path == nullptr || *path == '\0') {
        if (sink.file != nullptr) {
            std::fclose(sink.file);
        }
        sink.file = nullptr;
        return true;
    }
    std::FILE *file = std::fopen(path, "a");
    if (file == nullptr) {
        return false;
    }
    if (sink.file != nullptr) {
        std::fclose(sink.file);
    }
    sink.file = file;
    return true;
}

void ConfigureFromEnvironment(Sink &sink) {
    if (sink.configured) {
        return;
    }
    sink.configured = true;
    if (const char *mask = std::getenv("ZEL_LOG_MASK"); mask != nullptr && *mask != '\0') {
        sink.mask = static_cast<std::uint32_t>(std::strtoul(mask, nullptr, 0));
    }
    OpenFile(sink, std::getenv("ZEL_LOG_FILE"));
}

std::size_t TimeStamp(char *out, std::size_t size) {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &seconds);
#else
    localtime_r(&seconds, &local);
#endif
    const std::size_t n = std::strftime(out, size, "%Y-%m-%d %H:%M:%S", &local);
    const int m = std::snprintf(out + n, size - n, ".%03d", static_cast<int>(millis));
    return n + static_cast<std::size_t>(m > 0 ? m : 0);
}

} // namespace

extern "C" int hostlog_open(const char *path) {
    Sink &sink = TheSink();
    const std::lock_guard<std::mutex> guard(sink.lock);
    sink.configured = true;
    return OpenFile(sink, path) ? 0 : -1;
}

extern "C" void hostlog_set_mask(std::uint32_t mask) {
    Sink &sink = TheSink();
    const std::lock_guard<std::mutex> guard(sink.lock);
    ConfigureFromEnvironment(sink);
    sink.mask = mask;
}

// Formats the line into text, or when it is longer into memory of its own size, so a line is
// never cut; only when that memory cannot be had is the line written cut to text.
extern "C" int err(std::int32_t level, const char *format, ...) {
    char text[2048];
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const std::size_t length = hostlog_vformat(text, sizeof text, format, args);
    va_end(args);
    std::unique_ptr<char[]> longText;
    if (length >= sizeof text) {
        longText.reset(new (std::nothrow) char[length + 1]);
        if (longText != nullptr) {
            hostlog_vformat(longText.get(), length + 1, format, again);
        }
    }
    va_end(again);
    const int result = static_cast<int>(std::min<std::size_t>(length, INT_MAX));

    Sink &sink = TheSink();
    const std::lock_guard<std::mutex> guard(sink.lock);
    ConfigureFromEnvironment(sink);
    if ((static_cast<std::uint32_t>(level) & sink.mask) == 0) {
        return result;
    }
    char stamp[40];
    TimeStamp(stamp, sizeof stamp);
    std::FILE *out = sink.file != nullptr ? sink.file : stderr;
    std::fprintf(out, "%s [%d] %s\n", stamp, static_cast<int>(level),
                 longText != nullptr ? longText.get() : text);
    std::fflush(out);
    return result;
}
