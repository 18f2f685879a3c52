// The printf-style formatter behind err().
//
// Every conversion reads its argument with the type that its letter and length modifier
// name, so no format makes it read an argument as a type the caller did not pass:
// - integers d i u x X o, plain or with hh, h, l, ll, j, z or t;
// - floating point f F e E g G a A, plain or with l (a double) or L (a long double);
// - %c, and %C: a character passed as a 32-bit integer; %s; %p;
// - widths and precisions, written out or taken from the arguments ('*').
// Anything else is refused: an unknown letter, a modifier its letter does not take, %n,
// wide characters and text (%lc, %ls), positional arguments, a width above 512 and a
// number's precision above 512. A refused conversion appears as written; as the arguments
// that follow it can no longer be matched to their conversions, no later conversion of
// the format reads an argument either, and each appears as written too.
//
// Text has no length limit. A number goes through snprintf into a piece that holds the
// longest number text the limits allow.
#include "hostlog.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <type_traits>

namespace {

constexpr int kMaxField = 512;
// A long double's 4933 integer digits, a sign, a point, kMaxField decimals and the NUL.
constexpr std::size_t kPieceSize = 8192;
static_assert(kPieceSize > 4933 + 3 + kMaxField, "the piece holds any number text");

constexpr char kFlags[] = "-+ #0";
constexpr unsigned kLeftAlign = 1U; // the '-' flag, first of kFlags

struct Output {
    char *out;
    std::size_t size;
    std::size_t length = 0;

    // Room left before the terminating NUL.
    std::size_t Room() const { return size > 0 && length < size - 1 ? size - 1 - length : 0; }
    void Put(const char *text, std::size_t n) {
        if (const std::size_t fits = std::min(n, Room()); fits > 0) {
            std::memcpy(out + length, text, fits);
        }
        length += n;
    }
    void Pad(std::size_t n) {
        if (const std::size_t fits = std::min(n, Room()); fits > 0) {
            std::memset(out + length, ' ', fits);
        }
        length += n;
    }
};

struct Conversion;
// Reads a number argument of one type and formats it.
using NumberReader = void (*)(Output &out, const Conversion &c, va_list &args);

// What a length modifier makes each kind of number conversion read; nullptr where the
// conversion does not take the modifier. Only the plain entry serves %c, %C, %s and %p.
struct LengthModifier {
    const char *text;
    NumberReader asSigned;
    NumberReader asUnsigned;
    NumberReader asFloating;
};

// One conversion as written, from its '%' to its letter.
struct Conversion {
    const char *start = nullptr;
    const char *end = nullptr; // one past the letter, or the format's end without one
    unsigned flags = 0;        // bit i: kFlags[i]
    bool widthFromArgs = false;
    int width = -1; // -1: none
    bool precisionFromArgs = false;
    int precision = -1;                       // -1: none
    const LengthModifier *modifier = nullptr; // never nullptr once parsed
    char letter = '\0';

    void PutAsWritten(Output &out) const { out.Put(start, static_cast<std::size_t>(end - start)); }
};

// Digits of a width or precision; a value beyond an int reads as INT_MAX.
int ReadNumber(const char *&p) {
    int value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        const int digit = *p - '0';
        value = value > (INT_MAX - digit) / 10 ? INT_MAX : value * 10 + digit;
    }
    return value;
}

template <typename T> void PutNumber(Output &out, const Conversion &c, T value);

template <typename T> void ReadNumberAs(Output &out, const Conversion &c, va_list &args) {
    PutNumber(out, c, va_arg(args, T));
}

// hh and h read an int, which snprintf narrows. Two-letter modifiers come before their
// one-letter prefixes, the plain entry (no modifier) last.
constexpr LengthModifier kLengthModifiers[] = {
    {"hh", ReadNumberAs<int>, ReadNumberAs<unsigned>, nullptr},
    {"h", ReadNumberAs<int>, ReadNumberAs<unsigned>, nullptr},
    {"ll", ReadNumberAs<long long>, ReadNumberAs<unsigned long long>, nullptr},
    {"l", ReadNumberAs<long>, ReadNumberAs<unsigned long>, ReadNumberAs<double>},
    {"j", ReadNumberAs<std::intmax_t>, ReadNumberAs<std::uintmax_t>, nullptr},
    {"z", ReadNumberAs<std::make_signed_t<std::size_t>>, ReadNumberAs<std::size_t>, nullptr},
    {"t", ReadNumberAs<std::ptrdiff_t>, ReadNumberAs<std::make_unsigned_t<std::ptrdiff_t>>,
     nullptr},
    {"L", nullptr, nullptr, ReadNumberAs<long double>},
    {"", ReadNumberAs<int>, ReadNumberAs<unsigned>, ReadNumberAs<double>},
};
constexpr const LengthModifier *kPlain = std::end(kLengthModifiers) - 1;

const LengthModifier *ReadLengthModifier(const char *&p) {
    for (const LengthModifier &modifier : kLengthModifiers) {
        const std::size_t n = std::strlen(modifier.text);
        if (std::strncmp(p, modifier.text, n) == 0) {
            p += n;
            return &modifier;
        }
    }
    return kPlain;
}

Conversion Parse(const char *percent) {
    Conversion c;
    c.start = percent;
    const char *p = percent + 1;
    for (; *p != '\0'; ++p) {
        const char *flag = std::strchr(kFlags, *p);
        if (flag == nullptr) {
            break;
        }
        c.flags |= 1U << (flag - kFlags);
    }
    if (*p == '*') {
        c.widthFromArgs = true;
        ++p;
    } else if (*p >= '0' && *p <= '9') {
        c.width = ReadNumber(p);
    }
    if (*p == '.') {
        ++p;
        if (*p == '*') {
            c.precisionFromArgs = true;
            ++p;
        } else {
            c.precision = ReadNumber(p);
        }
    }
    c.modifier = ReadLengthModifier(p);
    c.letter = *p;
    c.end = *p != '\0' ? p + 1 : p;
    return c;
}

bool IsSigned(char letter) {
    return letter == 'd' || letter == 'i';
}
bool IsUnsigned(char letter) {
    return letter != '\0' && std::strchr("uxXo", letter) != nullptr;
}
bool IsFloating(char letter) {
    return letter != '\0' && std::strchr("fFeEgGaA", letter) != nullptr;
}

// The reader of a number conversion's argument; nullptr for any other conversion and for
// a modifier the letter does not take.
NumberReader ReaderFor(const Conversion &c) {
    if (IsSigned(c.letter)) {
        return c.modifier->asSigned;
    }
    if (IsUnsigned(c.letter)) {
        return c.modifier->asUnsigned;
    }
    return IsFloating(c.letter) ? c.modifier->asFloating : nullptr;
}

bool IsPlain(char letter) {
    return letter == 'c' || letter == 'C' || letter == 's' || letter == 'p';
}

// A letter that takes its modifier, and a written width or precision within the limits; one
// from the arguments is checked once read. Text takes any precision: it only limits how
// much is read.
bool Accepted(const Conversion &c) {
    const bool known = IsPlain(c.letter) ? c.modifier == kPlain : ReaderFor(c) != nullptr;
    return known && c.width <= kMaxField && (c.letter == 's' || c.precision <= kMaxField);
}

// Takes the '*' width and precision from the arguments; false when one is out of bounds.
bool ReadFieldArguments(Conversion &c, va_list &args) {
    if (c.widthFromArgs) {
        const int width = va_arg(args, int);
        if (width < -kMaxField || width > kMaxField) {
            return false;
        }
        if (width < 0) {
            c.flags |= kLeftAlign; // a negative width from the arguments aligns left
        }
        c.width = width < 0 ? -width : width;
    }
    if (c.precisionFromArgs) {
        const int precision = va_arg(args, int);
        if (c.letter != 's' && precision > kMaxField) {
            return false;
        }
        c.precision = precision < 0 ? -1 : precision; // a negative one counts as none
    }
    return true;
}

void PutPadded(Output &out, const Conversion &c, const char *text, std::size_t n) {
    const auto width = static_cast<std::size_t>(c.width < 0 ? 0 : c.width);
    const std::size_t padding = width > n ? width - n : 0;
    if ((c.flags & kLeftAlign) == 0) {
        out.Pad(padding);
    }
    out.Put(text, n);
    if ((c.flags & kLeftAlign) != 0) {
        out.Pad(padding);
    }
}

// Reads no further than the precision, so text without a NUL within it is safe.
void PutText(Output &out, const Conversion &c, const char *text) {
    if (text == nullptr) {
        text = "(null)";
    }
    std::size_t n = 0;
    if (c.precision < 0) {
        n = std::strlen(text);
    } else {
        const auto limit = static_cast<std::size_t>(c.precision);
        while (n < limit && text[n] != '\0') {
            ++n;
        }
    }
    PutPadded(out, c, text, n);
}

// The conversion with its '*' fields resolved, for snprintf: at most 16 characters.
struct NumberSpec {
    char text[24] = {};

    explicit NumberSpec(const Conversion &c) {
        char *p = text;
        *p++ = '%';
        for (std::size_t i = 0; kFlags[i] != '\0'; ++i) {
            if ((c.flags & (1U << i)) != 0) {
                *p++ = kFlags[i];
            }
        }
        const auto last = text + sizeof text - 1;
        if (c.width >= 0) {
            p = std::to_chars(p, last, c.width).ptr;
        }
        if (c.precision >= 0) {
            *p++ = '.';
            p = std::to_chars(p, last, c.precision).ptr;
        }
        for (const char *m = c.modifier->text; *m != '\0'; ++m) {
            *p++ = *m;
        }
        *p = c.letter;
    }
};

template <typename T> void PutNumber(Output &out, const Conversion &c, T value) {
    char piece[kPieceSize];
    const int n = std::snprintf(piece, sizeof piece, NumberSpec(c).text, value);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof piece) {
        c.PutAsWritten(out);
        return;
    }
    out.Put(piece, static_cast<std::size_t>(n));
}

// Formats an accepted conversion, reading its arguments; false when a width or precision
// from the arguments is out of bounds, which refuses the conversion.
bool PutConversion(Output &out, Conversion c, va_list &args) {
    if (!ReadFieldArguments(c, args)) {
        return false;
    }
    if (c.letter == 's') {
        PutText(out, c, va_arg(args, const char *));
    } else if (c.letter == 'c' || c.letter == 'C') {
        const char character = static_cast<char>(va_arg(args, int));
        PutPadded(out, c, &character, 1);
    } else if (c.letter == 'p') {
        PutNumber(out, c, va_arg(args, void *));
    } else {
        ReaderFor(c)(out, c, args);
    }
    return true;
}

} // namespace

extern "C" std::size_t hostlog_vformat(char *out, std::size_t size, const char *format,
                                       va_list args) {
    Output result{out, size};
    va_list local;
    va_copy(local, args);
    bool refused = false;
    const char *p = format != nullptr ? format : "(null format)";
    while (*p != '\0') {
        if (*p != '%') {
            const char *next = std::strchr(p, '%');
            const std::size_t n =
                next != nullptr ? static_cast<std::size_t>(next - p) : std::strlen(p);
            result.Put(p, n);
            p += n;
            continue;
        }
        if (p[1] == '%') {
            result.Put("%", 1);
            p += 2;
            continue;
        }
        const Conversion conversion = Parse(p);
        refused = refused || !Accepted(conversion) || !PutConversion(result, conversion, local);
        if (refused) {
            conversion.PutAsWritten(result);
        }
        p = conversion.end;
    }
    va_end(local);
    if (size > 0) {
        out[std::min(result.length, size - 1)] = '\0';
    }
    return result.length;
}
