// The simulator keeps its own tables of the instrument's vocabulary, written independently
// of the driver's, so that a mistake in one is not hidden by the same mistake in the other.
// Here the two must agree: tokens, parameter letters, which letters are tabulated, and the
// largest block of each class.
#include "em_vocabulary.h"
#include "instrument.h"
#include "parameters.h"
#include "vocabulary.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <span>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Texts(std::span<const std::string_view> words) {
    return {words.begin(), words.end()};
}

bool Holds(std::string_view letters, char letter) {
    return letters.find(letter) != std::string_view::npos;
}

TEST(VocabularyAgreement, TokensAreTheSameOnBothSides) {
    EXPECT_EQ(Texts(kModeTokens), Texts(em1sim::kModeTokens));
    EXPECT_EQ(Texts(kStatusTokens), Texts(em1sim::kStatusTokens));
    EXPECT_EQ(Texts(kWideSteps), Texts(em1sim::kWideSteps));
    EXPECT_EQ(Texts(kCountSteps), Texts(em1sim::kCountSteps));
    EXPECT_EQ(Texts(kGainSteps), Texts(em1sim::kGainSteps));
    EXPECT_EQ(kOffToken, em1sim::kOffToken);
}

TEST(VocabularyAgreement, EachParameterLetterTakesTheSameKindOfValue) {
    EXPECT_EQ(kParameterLetters, em1sim::kLoopLetters);
    EXPECT_EQ(kModuleLineLetters, em1sim::kModuleLetters);
    for (const char letter : kParameterLetters) {
        const em1sim::Parameter *parameter = em1sim::FindParameter('L', letter);
        ASSERT_NE(parameter, nullptr) << letter;
        const em1sim::ValueKind kind = parameter->kind;
        EXPECT_EQ(kind == em1sim::ValueKind::kMode, letter == kModeLetter) << letter;
        EXPECT_EQ(kind == em1sim::ValueKind::kStatus, letter == kStatusLetter) << letter;
        EXPECT_EQ(kind == em1sim::ValueKind::kWideSteps, Holds(kWideStepLetters, letter)) << letter;
        EXPECT_EQ(kind == em1sim::ValueKind::kCountSteps, Holds(kCountStepLetters, letter))
            << letter;
        EXPECT_EQ(kind == em1sim::ValueKind::kGainSteps, Holds(kGainStepLetters, letter)) << letter;
    }
}

TEST(VocabularyAgreement, TheLargestBlocksHoldEveryValueOfTheInstrument) {
    EXPECT_EQ(kMaxLoopCount, em1sim::kMaxLoops * static_cast<int>(kIndexedLoopLetters));
    EXPECT_EQ(kMaxModuleCount,
              em1sim::kMaxModules * static_cast<int>(em1sim::kModuleLetters.size()));
    EXPECT_EQ(static_cast<std::size_t>(kMaxAlertCount), em1sim::kMaxAlerts);
}

} // namespace
