#include "protocol/scale.h"
#include "interface/em_vocabulary.h"
#include "protocol/characters.h"

#include <cmath>
#include <limits>

namespace {

// Beyond this exponent the factor is infinite in double precision anyway.
constexpr int kLargestExponent = 400;
// The largest power of ten below the double range. Larger factors are infinity, stated
// here rather than left to the C library's pow, which on x87 targets may return a finite
// extended-precision value.
constexpr int kLargestFiniteExponent = 308;

// The decimal integer at text, as the C library's text-to-integer conversion reads it,
// held within -kLargestExponent..kLargestExponent so that no digit string overflows.
int ExponentAt(const char *text) {
    while (IsBlank(*text)) {
        ++text;
    }
    const bool negative = *text == '-';
    if (*text == '-' || *text == '+') {
        ++text;
    }
    int exponent = 0;
    for (; IsDigit(*text); ++text) {
        if (exponent <= kLargestExponent) {
            exponent = exponent * 10 + (*text - '0');
        }
    }
    if (exponent > kLargestExponent) {
        exponent = kLargestExponent;
    }
    return negative ? -exponent : exponent;
}

} // namespace

double ScaleFactor(const char *address) {
    for (std::size_t i = 0; i < kScalePosition; ++i) {
        if (address[i] == '\0') {
            return 1.0;
        }
    }
    const int exponent = ExponentAt(address + kScalePosition);
    if (exponent > kLargestFiniteExponent) {
        return std::numeric_limits<double>::infinity();
    }
    return std::trunc(std::pow(10.0, exponent));
}
