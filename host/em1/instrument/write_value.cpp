#include "write_value.h"

#include "address_grammar.h"
#include "failure.h"
#include "number_text.h"
#include "vocabulary.h"

#include <cmath>

namespace {

[[noreturn]] void Refuse(const Item &item, std::string_view value, const std::string &reason) {
    throw Failure(FailureKind::kBadValue, "write: " + item.address + ": '" + std::string(value) +
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

// A mode by name or code; a status by its code only, the form in which the driver sends it.
WriteValue PrepareCode(const Item &item, std::string_view value, ValueKind kind) {
    const bool mode = kind == ValueKind::kMode;
    const auto names = mode ? std::span<const std::string_view>(kModeTokens)
                            : std::span<const std::string_view>(kStatusTokens);
    const std::string last = std::to_string(names.size() - 1);
    const std::string expected = mode ? "a mode (" + Listed(names) + ") or its code 0 to " + last
                                      : "a status code 0 to " + last;
    int code = 0;
    if (const auto named = CodeOfName(kind, value); named && mode) {
        code = *named;
    } else if (named) {
        Refuse(item, value,
               "statuses go out as their codes: write " + std::to_string(*named) + " for " +
                   std::string(*CodeName(kind, *named)));
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
    write.dataType = item.dataType;
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

// The cell type for a number: a 32-bit integer for a whole host value that fits one,
// unless the command line chose the type.
std::int32_t ExactType(const Item &item, double hostValue, bool typeGiven) {
    Cell probe{};
    if (!typeGiven && item.dataType == EM_TYPE_FLOAT &&
        WriteCell(probe, EM_TYPE_INT32, hostValue)) {
        return EM_TYPE_INT32;
    }
    return item.dataType;
}

WriteValue PrepareNumber(const Item &item, std::string_view value, double number,
                         const std::string &text, bool typeGiven) {
    WriteValue write;
    write.text = text;
    write.number = number;
    write.dataType = ExactType(item, number * item.Scale(), typeGiven);
    if (!WriteCell(write.cell, write.dataType, number * item.Scale())) {
        const std::string hint =
            item.dataType == EM_TYPE_FLOAT
                ? " (a float holds at most 3.4e+38)"
                : " exactly (a float item takes it: " + item.address + ":float)";
        Refuse(item, value,
               FormatNumber(number) + " times the scale " + FormatNumber(item.Scale()) +
                   " does not fit the type " + TypeName(item.dataType) + hint);
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
    return PrepareNumber(item, value, number, token, true);
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
    write.dataType = item.dataType;
    WriteCellWord(write.cell, static_cast<std::int16_t>(*number));
    return write;
}

} // namespace

WriteValue PrepareWrite(const Item &item, std::string_view value, bool typeGiven) {
    if (item.itemClass == EM_CLASS_ALERT) {
        Refuse(item, value, "alert items can only be read; write SX 0 acknowledges the alerts");
    }
    if (item.itemClass == EM_CLASS_SPECIAL) {
        return PrepareSpecialWord(item, value);
    }
    const ValueKind kind = KindOfLetter(item.Letter());
    if (kind == ValueKind::kMode || kind == ValueKind::kStatus) {
        return PrepareCode(item, value, kind);
    }
    if (kind == ValueKind::kTabulated) {
        return PrepareTabulated(item, value);
    }
    const double number = Number(item, value, "a number");
    return PrepareNumber(item, value, number, FormatNumber(number), typeGiven);
}
