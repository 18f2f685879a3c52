#include "protocol/tabulated.h"

#include "interface/em_driver.h"
#include "interface/em_vocabulary.h"
#include "interface/log.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string_view>

namespace {

struct Step {
    std::string_view text;
    float value;
};

// The number a step's text spells, in single precision: "0.250" is 0.25f.
consteval float SpelledValue(std::string_view text) {
    std::uint64_t digits = 0;
    double divisor = 1.0;
    bool fraction = false;
    for (const char c : text) {
        if (c == '.') {
            fraction = true;
            continue;
        }
        digits = digits * 10 + static_cast<std::uint64_t>(c - '0');
        if (fraction) {
            divisor *= 10.0;
        }
    }
    return static_cast<float>(static_cast<double>(digits) / divisor);
}

template <std::size_t N>
consteval std::array<Step, N> Steps(const std::array<std::string_view, N> &texts) {
    std::array<Step, N> steps{};
    for (std::size_t i = 0; i < N; ++i) {
        steps[i] = Step{texts[i], SpelledValue(texts[i])};
    }
    return steps;
}

constexpr auto kWideStepValues = Steps(kWideSteps);
constexpr auto kCountStepValues = Steps(kCountSteps);
constexpr auto kGainStepValues = Steps(kGainSteps);

constexpr bool FitsDestination(std::string_view token) {
    return token.size() < kTokenCapacity;
}
static_assert(std::ranges::all_of(kWideSteps, FitsDestination) &&
              std::ranges::all_of(kCountSteps, FitsDestination) &&
              std::ranges::all_of(kGainSteps, FitsDestination) &&
              std::ranges::all_of(kModeTokens, FitsDestination) &&
              std::ranges::all_of(kStatusTokens, FitsDestination) && FitsDestination(kOffToken));

// The step that val selects; empty when there is none.
template <std::size_t N> std::string_view StepToken(const std::array<Step, N> &steps, float val) {
    if (static_cast<double>(val) < kOffThreshold) {
        return kOffToken;
    }
    for (const Step &step : steps) {
        if (step.value == val) {
            return step.text;
        }
    }
    return {};
}

// The token at the index val truncated toward zero; empty when that index lies outside the
// table (val of -1 or below, above the last code, or NaN).
template <std::size_t N>
std::string_view CodedToken(const std::array<std::string_view, N> &tokens, float val) {
    constexpr auto kLastCode = static_cast<float>(N - 1);
    if (!(val > -1.0F && val <= kLastCode)) {
        return {};
    }
    return tokens[static_cast<std::size_t>(static_cast<int>(val))];
}

bool Holds(std::string_view letters, char letter) {
    return letters.find(letter) != std::string_view::npos;
}

// The step letters, the mode letter and the status letter.
bool IsTabulated(char letter) {
    return Holds(kWideStepLetters, letter) || Holds(kCountStepLetters, letter) ||
           Holds(kGainStepLetters, letter) || letter == kModeLetter || letter == kStatusLetter;
}

// The token of val for a tabulated letter; empty when val has none.
std::string_view TokenFor(char letter, float val) {
    if (Holds(kWideStepLetters, letter)) {
        return StepToken(kWideStepValues, val);
    }
    if (Holds(kCountStepLetters, letter)) {
        return StepToken(kCountStepValues, val);
    }
    if (Holds(kGainStepLetters, letter)) {
        return StepToken(kGainStepValues, val);
    }
    if (letter == kModeLetter) {
        return CodedToken(kModeTokens, val);
    }
    return CodedToken(kStatusTokens, val);
}

} // namespace

int setTabularVal(int parameterLetter, float val, std::span<char, kTokenCapacity> destination) {
    const int letter = parameterLetter & 0xFF;
    err(kLogDetail, "setTabularVal():entered  valType = %C, val = %f", letter,
        static_cast<double>(val));
    const auto parameter = static_cast<char>(letter);
    if (!IsTabulated(parameter)) {
        return EM_OK;
    }
    const std::string_view token = TokenFor(parameter, val);
    if (token.empty()) {
        err(kLogDetail, "setTabularVal(): Fail valType = %C, val = %f", letter,
            static_cast<double>(val));
        return EM_REFUSED;
    }
    token.copy(destination.data(), token.size());
    destination[token.size()] = '\0';
    return EM_OK;
}
