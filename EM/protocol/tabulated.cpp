#include "protocol/tabulated.h"

#include "interface/em_driver.h"
#include "interface/log.h"
#include "protocol/vocabulary.h"

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

template <std::size_t N> consteval std::array<Step, N> Steps(const std::string_view (&texts)[N]) {
    std::array<Step, N> steps{};
    for (std::size_t i = 0; i < N; ++i) {
        steps[i] = Step{texts[i], SpelledValue(texts[i])};
    }
    return steps;
}

constexpr std::string_view kWideTexts[] = {
    "0.1",  "0.2",  "0.3",  "0.5",  "0.7",  "1.0",  "1.4", "2.0", "3.0", "4.0", "5.0", "6.0", "8.0",
    "10.0", "15.0", "20.0", "30.0", "45.0", "60.0", "100", "150", "200", "300", "400", "500",
};
constexpr std::string_view kCountTexts[] = {
    "1",  "2",  "3",  "4",  "5",  "6",  "8",   "10",  "15",
    "20", "30", "40", "50", "60", "80", "100", "150", "200",
};
constexpr std::string_view kGainTexts[] = {
    "0.125", "0.250", "0.500", "1.0", "2.0", "4.0", "8.0",
};
constexpr auto kWideSteps = Steps(kWideTexts);
constexpr auto kCountSteps = Steps(kCountTexts);
constexpr auto kGainSteps = Steps(kGainTexts);

constexpr std::string_view kOffToken = "OFF";
constexpr double kOffThreshold = 0.0001;

constexpr bool FitsDestination(std::string_view token) {
    return token.size() < kTokenCapacity;
}
static_assert(std::ranges::all_of(kWideSteps, FitsDestination, &Step::text) &&
              std::ranges::all_of(kCountSteps, FitsDestination, &Step::text) &&
              std::ranges::all_of(kGainSteps, FitsDestination, &Step::text) &&
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

} // namespace

int setTabularVal(int valType, float val, std::span<char, kTokenCapacity> destination) {
    const int letter = valType & 0xFF;
    err(kLogDetail, "setTabularVal():entered  valType = %C, val = %f", letter,
        static_cast<double>(val));
    std::string_view token;
    switch (letter) {
    case 'C':
    case 'D':
    case 'I':
    case 'P':
    case '[':
    case ']':
        token = StepToken(kWideSteps, val);
        break;
    case 'F':
    case '^':
        token = StepToken(kCountSteps, val);
        break;
    case 'G':
        token = StepToken(kGainSteps, val);
        break;
    case 'M':
        token = CodedToken(kModeTokens, val);
        break;
    case 'X':
        token = CodedToken(kStatusTokens, val);
        break;
    default:
        return EM_OK;
    }
    if (token.empty()) {
        err(kLogDetail, "setTabularVal(): Fail valType = %C, val = %f", letter,
            static_cast<double>(val));
        return EM_REFUSED;
    }
    token.copy(destination.data(), token.size());
    destination[token.size()] = '\0';
    return EM_OK;
}
