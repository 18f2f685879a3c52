// The number text of a value write.
#include "protocol/number_text.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace {

std::string NumberText(double value) {
    char text[kNumberTextCapacity] = "refused";
    WriteNumberText(value, text);
    return text;
}

// Halves round away from zero; digits beyond the sixth are cut, not rounded again; below 0.1
// the fraction keeps three places; what rounds to 0.000 has no sign.
TEST(NumberText, ThreeDecimalsAtMostSixDigitsAndNoTextWithoutExactDigits) {
    constexpr double kInfinity = std::numeric_limits<double>::infinity();
    const struct {
        double value;
        const char *text;
    } cases[] = {{12.5, "12.500"},
                 {100, "100"},
                 {0.5, "0.500"},
                 {0, "0"},
                 {-5, "-5"},
                 {-0.5, "-0.500"},
                 {65.535, "65.535"},
                 {1234.5678, "1234.56"},
                 {1234.004, "1234.00"},
                 {12345.678, "12345.6"},
                 {123456.7, "123456"},
                 {999.9996, "1000"},
                 {-1000.5, "-1000.50"},
                 {2.0625, "2.063"},
                 {-2.0625, "-2.063"},
                 {0.0005, "0.001"},
                 {99999.96, "99999.9"},
                 {0.05, "0.050"},
                 {-0.001, "-0.001"},
                 {-0.0004, "0"},
                 {-0.0, "0"},
                 {999999999999999.875, "999999999999999"},
                 {-123456789012.345, "-123456789012"},
                 {1e15, "refused"},
                 {-1e15, "refused"},
                 {3.4e38, "refused"},
                 {kInfinity, "refused"},
                 {-kInfinity, "refused"},
                 {std::numeric_limits<double>::quiet_NaN(), "refused"}};
    for (const auto &c : cases) {
        EXPECT_EQ(NumberText(c.value), c.text) << c.value;
    }
}

} // namespace
