#include "ini_text.h"

#include <string_view>

namespace {

constexpr std::string_view kBlanks = " \t\r";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool IsBlank(char c) {
    return kBlanks.find(c) != std::string_view::npos;
}

std::string_view Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// The line up to its comment, if it has one.
std::string_view WithoutComment(std::string_view line) {
    for (std::size_t at = 0; at < line.size(); ++at) {
        if ((line[at] == '#' || line[at] == ';') && (at == 0 || IsBlank(line[at - 1]))) {
            return line.substr(0, at);
        }
    }
    return line;
}

IniLine Malformed(int number, std::string what) {
    return {IniLine::Kind::kMalformed, number, std::move(what), {}};
}

// One line with content; lastKey is the key of the setting above it in the same section.
IniLine ParseLine(std::string_view line, int number, const std::string &lastKey) {
    const std::string_view text = Trimmed(WithoutComment(line));
    if (text.front() == '[') {
        if (text.back() != ']') {
            return Malformed(number, "a section line ends with ]");
        }
        return {IniLine::Kind::kSection,
                number,
                std::string(Trimmed(text.substr(1, text.size() - 2))),
                {}};
    }
    const auto equals = text.find('=');
    if (equals == std::string_view::npos) {
        if (IsBlank(line.front()) && !lastKey.empty()) {
            return {IniLine::Kind::kSetting, number, lastKey, std::string(text)};
        }
        return Malformed(number, "not a [section] or key = value line");
    }
    const std::string_view key = Trimmed(text.substr(0, equals));
    if (key.empty()) {
        return Malformed(number, "a key is missing before =");
    }
    return {IniLine::Kind::kSetting, number, std::string(key),
            std::string(Trimmed(text.substr(equals + 1)))};
}

} // namespace

std::vector<IniLine> ReadIni(std::istream &text) {
    std::vector<IniLine> lines;
    std::string line;
    std::string lastKey;
    for (int number = 1; std::getline(text, line); ++number) {
        if (number == 1 && line.starts_with(kByteOrderMark)) {
            line.erase(0, kByteOrderMark.size());
        }
        if (Trimmed(WithoutComment(line)).empty()) {
            continue;
        }
        lines.push_back(ParseLine(line, number, lastKey));
        const IniLine &parsed = lines.back();
        lastKey = parsed.kind == IniLine::Kind::kSetting ? parsed.name : std::string();
    }
    return lines;
}
