#include "vocabulary.h"

#include <cctype>

namespace {

constexpr std::array<std::string_view, 25> kFineSteps = {
    "0.1",  "0.2",  "0.3",  "0.5",  "0.7",  "1.0",  "1.4", "2.0", "3.0", "4.0", "5.0", "6.0", "8.0",
    "10.0", "15.0", "20.0", "30.0", "45.0", "60.0", "100", "150", "200", "300", "400", "500",
};
constexpr std::array<std::string_view, 18> kWholeSteps = {
    "1",  "2",  "3",  "4",  "5",  "6",  "8",   "10",  "15",
    "20", "30", "40", "50", "60", "80", "100", "150", "200",
};
constexpr std::array<std::string_view, 7> kBinarySteps = {
    "0.125", "0.250", "0.500", "1.0", "2.0", "4.0", "8.0",
};

constexpr std::string_view kFineLetters = "CDIP[]";
constexpr std::string_view kWholeLetters = "F^";

std::span<const std::string_view> NamesOf(ValueKind kind) {
    if (kind == ValueKind::Mode) {
        return kModeNames;
    }
    if (kind == ValueKind::Status) {
        return kStatusNames;
    }
    return {};
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

} // namespace

ValueKind KindOfLetter(char letter) {
    if (letter == 'M') {
        return ValueKind::Mode;
    }
    if (letter == 'X') {
        return ValueKind::Status;
    }
    if (letter == 'G' || kFineLetters.find(letter) != std::string_view::npos ||
        kWholeLetters.find(letter) != std::string_view::npos) {
        return ValueKind::Tabulated;
    }
    return ValueKind::Number;
}

std::span<const std::string_view> TokensOfLetter(char letter) {
    if (letter == 'G') {
        return kBinarySteps;
    }
    if (kWholeLetters.find(letter) != std::string_view::npos) {
        return kWholeSteps;
    }
    if (kFineLetters.find(letter) != std::string_view::npos) {
        return kFineSteps;
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
