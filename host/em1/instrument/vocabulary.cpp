#include "vocabulary.h"

#include <cctype>

namespace {

bool Holds(std::string_view letters, char letter) {
    return letters.find(letter) != std::string_view::npos;
}

std::span<const std::string_view> NamesOf(ValueKind kind) {
    if (kind == ValueKind::kMode) {
        return kModeTokens;
    }
    if (kind == ValueKind::kStatus) {
        return kStatusTokens;
    }
    return {};
}

} // namespace

ValueKind KindOfLetter(char letter) {
    if (letter == kModeLetter) {
        return ValueKind::kMode;
    }
    if (letter == kStatusLetter) {
        return ValueKind::kStatus;
    }
    return TokensOfLetter(letter).empty() ? ValueKind::kNumber : ValueKind::kTabulated;
}

std::span<const std::string_view> TokensOfLetter(char letter) {
    if (Holds(kGainStepLetters, letter)) {
        return kGainSteps;
    }
    if (Holds(kCountStepLetters, letter)) {
        return kCountSteps;
    }
    if (Holds(kWideStepLetters, letter)) {
        return kWideSteps;
    }
    return {};
}

std::optional<std::string_view> CodeName(ValueKind kind, int code) {
    const auto names = NamesOf(kind);
    if (code < 0 || static_cast<std::size_t>(code) >= names.size()) {
        return std::nullopt;
    }
    return names[static_cast<std::size_t>(code)];
}

std::optional<int> CodeOfName(ValueKind kind, std::string_view name) {
    const auto names = NamesOf(kind);
    for (std::size_t code = 0; code < names.size(); ++code) {
        if (SameIgnoringCase(names[code], name)) {
            return static_cast<int>(code);
        }
    }
    return std::nullopt;
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}
