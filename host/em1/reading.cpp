#include "reading.h"

#include "number_text.h"
#include "vocabulary.h"

#include <cmath>

namespace {

Shown ShowSpecialWord(const Item &item, double hostValue) {
    if (item.address == "INIT") {
        return {hostValue, hostValue != 0 ? "ready" : "not ready"};
    }
    if (item.address == "S?") {
        return {hostValue, hostValue != 0 ? "error" : "no error"};
    }
    return {hostValue, FormatNumber(hostValue)};
}

Shown ShowCode(ValueKind kind, double hostValue) {
    const int code = static_cast<int>(hostValue);
    if (code == kUnknownToken) {
        return {hostValue, "undecoded", false};
    }
    const auto name = CodeName(kind, code);
    return {hostValue, name ? std::string(*name) : "code " + FormatNumber(hostValue)};
}

} // namespace

Shown ShowValue(const Item &item, double hostValue) {
    switch (item.itemClass) {
    case EM_CLASS_ALERT:
        return {hostValue, hostValue != 0 ? "active" : "clear"};
    case EM_CLASS_SPECIAL:
        return ShowSpecialWord(item, hostValue);
    default:
        break;
    }
    const ValueKind kind = KindOfLetter(item.Letter());
    if (kind == ValueKind::Mode || kind == ValueKind::Status) {
        // Tokens reach the host as their codes, unscaled.
        return ShowCode(kind, hostValue);
    }
    const double value = hostValue / item.Scale();
    if (kind == ValueKind::Tabulated && value == 0) {
        return {value, "OFF"};
    }
    return {value, FormatNumber(value)};
}

Shown ShowCell(const Item &item, const Cell &cell) {
    if (item.itemClass == EM_CLASS_SPECIAL) {
        return ShowValue(item, CellWord(cell));
    }
    return ShowValue(item, ReadCell(cell, item.dataType));
}

ReadProblem DescribeReadFailure(std::string_view operation, std::string_view what,
                                std::int32_t result, bool tokenUndecoded) {
    const std::string code = " (" + std::string(operation) + " result " + std::to_string(result);
    if (result == 1 && tokenUndecoded) {
        return {ExitStatus::BadValue,
                std::string(what) + ": the reply held a token em1 cannot name" + code + ")"};
    }
    if (result == 1) {
        return {ExitStatus::Refused, std::string(what) +
                                         ": the instrument refused the request, or its reply did "
                                         "not decode" +
                                         code + "; -vv shows the reply)"};
    }
    return {ExitStatus::NoAnswer,
            std::string(what) + ": no answer from the instrument" + code + ")"};
}
