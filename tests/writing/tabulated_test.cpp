// Tokens of tabulated parameters.
#include "log_capture.h"
#include "protocol/tabulated.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>
#include <string>

namespace {

// The token written; "refused" or "untouched" when the destination kept its contents.
std::string Token(int letter, float val) {
    char destination[kTokenCapacity] = "-------";
    const int result = setTabularVal(letter, val, destination);
    const bool untouched = std::string(destination) == "-------";
    return untouched ? (result != 0 ? "refused" : "untouched")
                     : (result != 0 ? "written and refused" : destination);
}

TEST(TabulatedValue, TokensByTableOffThresholdAndExactMatch) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct {
        int letter;
        float val;
        const char *token;
    } cases[] = {
        {'C', 0.1F, "0.1"},
        {']', 1.4F, "1.4"},
        {'I', 45.0F, "45.0"},
        {'D', 500.0F, "500"},
        {'C', 1.0F, "1.0"},
        {'F', 1.0F, "1"},
        {'^', 200.0F, "200"},
        {'F', 10.0F, "10"},
        {'G', 0.125F, "0.125"},
        {'G', 0.25F, "0.250"},
        {'G', 8.0F, "8.0"},
        {'P', 0.0F, "OFF"},
        {'P', -3.0F, "OFF"},
        {'[', 0.00005F, "OFF"},
        {'G', 0.0001F, "OFF"},
        {'C', 2.5F, "refused"},
        {'C', 7.0F, "refused"},
        {'D', 600.0F, "refused"},
        {'F', 0.5F, "refused"},
        {'G', 16.0F, "refused"},
        {'P', 0.1000001F, "refused"},
        {'I', nan, "refused"},
        {'M', 3.0F, "AUTO"},
        {'M', 5.9F, "CASCADE"},
        {'M', 6.0F, "ON"},
        {'M', -0.5F, "OFF"},
        {'M', 6.5F, "refused"},
        {'M', -1.0F, "refused"},
        {'M', nan, "refused"},
        {'X', 0.0F, "OK"},
        {'X', 10.0F, "XX"},
        {'X', 10.5F, "refused"},
        {'X', -2.0F, "refused"},
        {0x100 + 'M', 1.0F, "MANUAL"},
        {'S', 5.0F, "untouched"},
    };
    for (const auto &c : cases) {
        ClearCapturedLog();
        EXPECT_EQ(Token(c.letter, c.val), c.token) << static_cast<char>(c.letter) << " " << c.val;
        EXPECT_EQ(CapturedLog().size(), std::string(c.token) == "refused" ? 2u : 1u);
    }
    ClearCapturedLog();
    Token('M', 6.5F);
    EXPECT_EQ(CapturedLog(),
              (std::vector<LogLine>{{64, "setTabularVal():entered  valType = M, val = 6.500000"},
                                    {64, "setTabularVal(): Fail valType = M, val = 6.500000"}}));
}

} // namespace
