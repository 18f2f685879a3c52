#include "write_value.h"

#include "address_grammar.h"
#include "exit_status.h"
#include "number_text.h"
#include "vocabulary.h"

#include <cmath>

namespace {

[[noreturn]] void Refuse(const Item &item, std::string_view value, const std::string &reason) {
    throw Failure(ExitStatus::BadValue, "write: " + item.address + ": '" + std::string(value) +
                                            "' cannot be written: " + reason);
}

std::string Listed(std::span<const std::string_view> words) {
    std::string text;
    for (const auto word : words) {
        text += (text.empty() ? "" : " ") + std::string(word);
    }
    return text;
}

double Number(const Item &item, std::string_view value, const std::string &expected) {
    const auto number = ParseDecimal(value);
    if (!number) {
        Refuse(item, value, "it is not " + expected);
    }
    return *number;
}

// A mode or status: its name, or its code as a number.
WriteValue PrepareCode(const Item &item, std::string_view value, ValueKind kind) {
    const auto names = kind == ValueKind::Mode ? std::span<const std::string_view>(kModeTokens)
                                               : std::span<const std::string_view>(kStatusTokens);
    const std::string expected = std::string(kind == ValueKind::Mode ? "a mode" : "a status") +
                                 " (" + Listed(names) + ") or its code 0 to " +
                                 std::to_string(names.size() - 1);
    int code = 0;
    if (const auto named = CodeOfName(kind, value)) {
        code = *named;
    } else {
        const double number = Number(item, value, expected);
        if (number != std::trunc(number) || number < 0 ||
            number > static_cast<double>(names.size() - 1)) {
            Refuse(item, value, "it is not " + expected);
        }
        code = static_cast<int>(number);
    }
    WriteValue write;
    write.text = std::string(*CodeName(kind, code));
    if (!WriteCell(write.cell, item.dataType, code * item.Scale())) {
        Refuse(item, value,
               "its code times the scale does not fit the type " + TypeName(item.dataType));
    }
    return write;
}

// The number of a tabulated token, or the OFF below the threshold; the driver compares in
// single precision.
std::string TokenOf(const Item &item, double number) {
    if (number < kOffThreshold) {
        return std::string(kOffToken);
    }
    for (const auto token : TokensOfLetter(item.Letter())) {
        if (static_cast<float>(*ParseDecimal(token)) == static_cast<float>(number)) {
            return std::string(token);
        }
    }
    return "";
}

WriteValue PrepareNumber(const Item &item, std::string_view value, double number,
                         const std::string &text) {
    WriteValue write;
    write.text = text;
    if (!WriteCell(write.cell, item.dataType, number * item.Scale())) {
        Refuse(item, value,
               FormatNumber(number) + " times the scale " + FormatNumber(item.Scale()) +
                   " does not fit the type " + TypeName(item.dataType) +
                   " exactly (a float item takes it: " + item.address + ":float)");
    }
    return write;
}

WriteValue PrepareTabulated(const Item &item, std::string_view value) {
    const std::string allowed = "OFF " + Listed(TokensOfLetter(item.Letter()));
    const bool off = UpperCased(value) == "OFF";
    const double number = off ? 0 : Number(item, value, "a number");
    const std::string token = TokenOf(item, number);
    if (token.empty()) {
        Refuse(item, value,
               "parameter " + std::string(1, item.Letter()) + " takes only " + allowed);
    }
    return PrepareNumber(item, value, number, token);
}

WriteValue PrepareSpecialWord(const Item &item, std::string_view value) {
    const std::string &word = item.address;
    if (word == "NL" || word == "NM" || word == "NA" || word == "XS0") {
        Refuse(item, value, word + " can only be read");
    }
    const auto number = ParseInteger(value);
    const bool takesOne = word == "DISP" || word == "INIT";
    if (!number || *number < 0 || *number > (takesOne ? 1 : 0)) {
        Refuse(item, value, word + (takesOne ? " takes 0 or 1" : " takes only 0"));
    }
    WriteValue write;
    write.text = std::to_string(*number);
    WriteCellWord(write.cell, static_cast<std::int16_t>(*number));
    return write;
}

} // namespace

WriteValue PrepareWrite(const Item &item, std::string_view value) {
    if (item.itemClass == EM_CLASS_ALERT) {
        Refuse(item, value, "alert items can only be read; write SX 0 acknowledges the alerts");
    }
    if (item.itemClass == EM_CLASS_SPECIAL) {
        return PrepareSpecialWord(item, value);
    }
    const ValueKind kind = KindOfLetter(item.Letter());
    if (kind == ValueKind::Mode || kind == ValueKind::Status) {
        return PrepareCode(item, value, kind);
    }
    if (kind == ValueKind::Tabulated) {
        return PrepareTabulated(item, value);
    }
    const double number = Number(item, value, "a number");
    return PrepareNumber(item, value, number, FormatNumber(number));
}
