// The printf-style formatter behind err(): each conversion is handed to snprintf with
// its one argument, after %C (a character passed as a 32-bit integer) becomes %c.
#include "hostlog.h"

#include <cstdio>
#include <cstring>

namespace {

struct Output {
    char *out;
    std::size_t size;
    std::size_t length = 0;

    void put(const char *text, std::size_t n) {
        if (size > 0 && length < size - 1) {
            const std::size_t room = size - 1 - length;
            std::memcpy(out + length, text, n < room ? n : room);
        }
        length += n;
    }
};

bool IsFlagOrWidth(char c) {
    return std::strchr("-+ #0123456789.", c) != nullptr;
}

bool IsLengthModifier(char c) {
    return std::strchr("hlLqjzt", c) != nullptr;
}

// Formats one conversion whose text is spec (from '%' to the conversion letter).
int FormatOne(char *buf, std::size_t size, const char *spec, std::size_t specLength,
              va_list &args) {
    char one[32];
    if (specLength >= sizeof one) {
        return std::snprintf(buf, size, "%s", "<bad format>");
    }
    std::memcpy(one, spec, specLength);
    one[specLength] = '\0';
    const char conversion = one[specLength - 1];
    const bool isLong = std::strstr(one, "ll") != nullptr;
    switch (conversion) {
    case 'd':
    case 'i':
    case 'u':
    case 'x':
    case 'X':
    case 'o':
        if (isLong) {
            return std::snprintf(buf, size, one, va_arg(args, long long));
        }
        if (std::strchr(one, 'l') != nullptr) {
            return std::snprintf(buf, size, one, va_arg(args, long));
        }
        return std::snprintf(buf, size, one, va_arg(args, int));
    case 'c':
    case 'C':
        one[specLength - 1] = 'c';
        return std::snprintf(buf, size, one, va_arg(args, int));
    case 'f':
    case 'F':
    case 'e':
    case 'E':
    case 'g':
    case 'G':
        return std::snprintf(buf, size, one, va_arg(args, double));
    case 's': {
        const char *text = va_arg(args, const char *);
        return std::snprintf(buf, size, one, text != nullptr ? text : "(null)");
    }
    case 'p':
        return std::snprintf(buf, size, one, va_arg(args, void *));
    default:
        return std::snprintf(buf, size, "%s", one);
    }
}

} // namespace

extern "C" std::size_t hostlog_vformat(char *out, std::size_t size, const char *format,
                                       va_list args) {
    Output result{out, size};
    va_list local;
    va_copy(local, args);
    const char *p = format != nullptr ? format : "(null format)";
    while (*p != '\0') {
        if (*p != '%') {
            const char *next = std::strchr(p, '%');
            const std::size_t n =
                next != nullptr ? static_cast<std::size_t>(next - p) : std::strlen(p);
            result.put(p, n);
            p += n;
            continue;
        }
        if (p[1] == '%') {
            result.put("%", 1);
            p += 2;
            continue;
        }
        const char *end = p + 1;
        while (*end != '\0' && IsFlagOrWidth(*end)) {
            ++end;
        }
        while (*end != '\0' && IsLengthModifier(*end)) {
            ++end;
        }
        if (*end == '\0') {
            result.put(p, static_cast<std::size_t>(end - p));
            break;
        }
        char piece[512];
        const int n =
            FormatOne(piece, sizeof piece, p, static_cast<std::size_t>(end - p + 1), local);
        if (n > 0) {
            const auto written = static_cast<std::size_t>(n);
            result.put(piece, written < sizeof piece ? written : sizeof piece - 1);
        }
        p = end + 1;
    }
    va_end(local);
    if (size > 0) {
        out[result.length < size ? result.length : size - 1] = '\0';
    }
    return result.length;
}
