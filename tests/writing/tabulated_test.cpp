// Tokens of tabulated parameters.
#include "log_capture.h"
#include "protocol/tabulated.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// The token written, or "refused" / "untouched" with the destination left as it was.
std::string Token(int letter, float val) {
    char destination[kTokenCapacity] = "-------";
    const int result = setTabularVal(letter, val, destination);
    const bool untouched = std::string(destination) == "-------";
    if (result != 0) {
        return untouched ? "refused" : "refused, but written";
    }
    return untouched ? "untouched" : destination;
}

TEST(TabulatedValue, EveryStepIsWrittenForTheNumberItSpells) {
    const struct {
        const char *letters;
        std::vector<const char *> steps;
    } tables[] = {
        {"CDIP[]", {"0.1",  "0.2", "0.3", "0.5", "0.7",  "1.0",  "1.4",  "2.0",  "3.0",
                    "4.0",  "5.0", "6.0", "8.0", "10.0", "15.0", "20.0", "30.0", "45.0",
                    "60.0", "100", "150", "200", "300",  "400",  "500"}},
        {"F^",
         {"1", "2", "3", "4", "5", "6", "8", "10", "15", "20", "30", "40", "50", "60", "80", "100",
          "150", "200"}},
        {"G", {"0.125", "0.250", "0.500", "1.0", "2.0", "4.0", "8.0"}},
    };
    for (const auto &table : tables) {
        for (const char *letter = table.letters; *letter != '\0'; ++letter) {
            for (const char *step : table.steps) {
                EXPECT_EQ(Token(*letter, std::strtof(step, nullptr)), step) << *letter;
            }
        }
    }
}

TEST(TabulatedValue, OffBelowTheThresholdAndExactMatchesOnly) {
    const struct {
        int letter;
        float val;
        const char *token;
    } cases[] = {
        {'P', 0.0F, "OFF"},
        {'P', -3.0F, "OFF"},
        {'P', 0.00005F, "OFF"},
        {'F', 0.0F, "OFF"},
        {'G', 0.0001F, "OFF"},
        {'C', 1.0F, "1.0"},
        {'F', 1.0F, "1"},
        {'G', 0.25F, "0.250"},
        {'C', 2.5F, "refused"},
        {'C', 7.0F, "refused"},
        {'D', 600.0F, "refused"},
        {'F', 0.5F, "refused"},
        {'G', 16.0F, "refused"},
        {'C', 0.1000001F, "refused"},
        {'I', kNaN, "refused"},
        {'M', 3.0F, "AUTO"},
        {'M', 5.9F, "CASCADE"},
        {'M', 6.0F, "ON"},
        {'M', -0.5F, "OFF"},
        {'M', 6.5F, "refused"},
        {'M', -1.0F, "refused"},
        {'M', kNaN, "refused"},
        {'X', 0.0F, "OK"},
        {'X', 10.0F, "XX"},
        {'X', 10.5F, "refused"},
        {'X', -2.0F, "refused"},
        {0x100 + 'M', 1.0F, "MANUAL"},
        {'S', 5.0F, "untouched"},
        {'V', 0.0F, "untouched"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(Token(c.letter, c.val), c.token) << static_cast<char>(c.letter) << " " << c.val;
    }
}

TEST(TabulatedValue, LogsEveryCallAndEachRefusal) {
    ClearCapturedLog();
    Token('M', 6.5F);
    Token('P', 45.0F);
    Token('S', 1.0F);
    EXPECT_EQ(CapturedLog(), (std::vector<LogLine>{
                                 {64, "setTabularVal():entered  valType = M, val = 6.500000"},
                                 {64, "setTabularVal(): Fail valType = M, val = 6.500000"},
                                 {64, "setTabularVal():entered  valType = P, val = 45.000000"},
                                 {64, "setTabularVal():entered  valType = S, val = 1.000000"},
                             }));
}

} // namespace
