#include "protocol/number_text.h"

#include <cmath>
#include <cstdint>

namespace {

// Below this magnitude the thousandths fit a 64-bit integer with every digit exact.
constexpr double kLargestMagnitude = 1e15;
constexpr std::uint64_t kThousand = 1000;
constexpr std::size_t kFractionDigits = 3;
constexpr std::size_t kMostDigits = 6; // once the integer part has three or more
constexpr std::size_t kMaxDigitCount = 20;

// The decimal digits of a whole number, padded with leading zeros to at least the three
// fraction digits, so that the integer part is everything before the last three.
struct Digits {
    char text[kMaxDigitCount] = {};
    std::size_t count = 0;

    explicit Digits(std::uint64_t number) {
        char reversed[kMaxDigitCount];
        do {
            reversed[count++] = static_cast<char>('0' + number % 10);
            number /= 10;
        } while (number != 0);
        while (count < kFractionDigits) {
            reversed[count++] = '0';
        }
        for (std::size_t i = 0; i < count; ++i) {
            text[i] = reversed[count - 1 - i];
        }
    }
    std::size_t IntegerCount() const { return count - kFractionDigits; }
    const char *Fraction() const { return text + IntegerCount(); }
    bool FractionIsZero() const {
        const char *fraction = Fraction();
        return fraction[0] == '0' && fraction[1] == '0' && fraction[2] == '0';
    }
};

// The magnitude rounded to whole thousandths, halves up. The integer part and the fraction
// are taken apart first (both exactly), so that no digit of a large integer part is lost to
// the multiplication.
std::uint64_t Thousandths(double magnitude) {
    const double whole = std::floor(magnitude);
    const double fraction = magnitude - whole;
    return static_cast<std::uint64_t>(whole) * kThousand +
           static_cast<std::uint64_t>(std::round(fraction * static_cast<double>(kThousand)));
}

class TextWriter {
  public:
    explicit TextWriter(std::span<char, kNumberTextCapacity> text) : text_(text) {}
    void Put(char c) { text_[length_++] = c; }
    void Put(const char *digits, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            Put(digits[i]);
        }
    }
    void End() { text_[length_] = '\0'; }

  private:
    std::span<char, kNumberTextCapacity> text_;
    std::size_t length_ = 0;
};

} // namespace

bool WriteNumberText(double value, std::span<char, kNumberTextCapacity> text) {
    const double magnitude = std::fabs(value);
    if (!(magnitude < kLargestMagnitude)) {
        return false;
    }
    const Digits digits(Thousandths(magnitude));
    const bool roundedToZero = digits.IntegerCount() == 0 && digits.FractionIsZero();

    TextWriter writer(text);
    if (value < 0 && !roundedToZero) {
        writer.Put('-');
    }
    std::size_t integerCount = digits.IntegerCount();
    if (integerCount == 0) {
        writer.Put('0');
        integerCount = 1;
    } else {
        writer.Put(digits.text, integerCount);
    }
    if (integerCount < kMostDigits && !digits.FractionIsZero()) {
        writer.Put('.');
        const std::size_t room = kMostDigits - integerCount;
        writer.Put(digits.Fraction(), room < kFractionDigits ? room : kFractionDigits);
    }
    writer.End();
    return true;
}
