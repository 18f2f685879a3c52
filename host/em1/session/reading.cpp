#include "reading.h"

#include "line_trace.h"
#include "number_text.h"
#include "reply_number.h"
#include "vocabulary.h"

#include <cmath>

namespace {

Shown Make(double value, std::string text, bool decoded = true, std::string number = {}) {
    Shown shown;
    shown.value = value;
    shown.text = std::move(text);
    shown.decoded = decoded;
    shown.number = std::move(number);
    return shown;
}

// The text of a cell value: floats in their own precision, integers in full.
std::string CellNumber(const Item &item, double hostValue) {
    return item.dataType == EM_TYPE_FLOAT ? FormatFloat(static_cast<float>(hostValue))
                                          : FormatNumber(hostValue);
}

Shown ShowSpecialWord(const Item &item, double hostValue) {
    if (item.address == "INIT") {
        return Make(hostValue, hostValue != 0 ? "ready" : "not ready");
    }
    if (item.address == "S?") {
        return Make(hostValue, hostValue != 0 ? "error" : "no error");
    }
    return Make(hostValue, FormatNumber(hostValue));
}

Shown ShowCode(ValueKind kind, double hostValue) {
    const int code = static_cast<int>(hostValue);
    if (code == kUnknownToken) {
        return Make(hostValue, "undecoded", false);
    }
    const auto name = CodeName(kind, code);
    return Make(hostValue, name ? std::string(*name) : "code " + FormatNumber(hostValue));
}

// Whether the cell holds what the driver makes of the number the line carried: the number
// times the scale narrowed to a float, and for an integer cell its whole part.
bool FilledFrom(const Item &item, double hostValue, double carried) {
    const double stored = NarrowedToFloat(carried * item.Scale());
    return item.dataType == EM_TYPE_FLOAT ? stored == hostValue : std::trunc(stored) == hostValue;
}

Shown ShowMeaning(const Item &item, double hostValue, std::optional<double> carried) {
    switch (item.itemClass) {
    case EM_CLASS_ALERT:
        return Make(hostValue, hostValue != 0 ? "active" : "clear");
    case EM_CLASS_SPECIAL:
        return ShowSpecialWord(item, hostValue);
    default:
        break;
    }
    const ValueKind kind = KindOfLetter(item.Letter());
    if (kind == ValueKind::kMode || kind == ValueKind::kStatus) {
        // Tokens reach the host as their codes, unscaled.
        return ShowCode(kind, hostValue);
    }
    const bool fromLine = carried && FilledFrom(item, hostValue, *carried);
    const double value = fromLine ? *carried : hostValue / item.Scale();
    const std::string number = fromLine || item.dataType != EM_TYPE_FLOAT
                                   ? FormatNumber(value)
                                   : FormatFloat(static_cast<float>(value));
    Shown shown =
        Make(value, kind == ValueKind::kTabulated && value == 0 ? "OFF" : number, true, number);
    shown.carried = fromLine;
    return shown;
}

} // namespace

Shown ShowValue(const Item &item, double hostValue, std::optional<double> carried) {
    Shown shown = ShowMeaning(item, hostValue, carried);
    if (shown.number.empty()) {
        shown.number = FormatNumber(shown.value);
    }
    shown.cell = CellNumber(item, hostValue);
    return shown;
}

Shown ShowCell(const Item &item, const Cell &cell, std::optional<double> carried) {
    if (item.itemClass == EM_CLASS_SPECIAL) {
        return ShowValue(item, CellWord(cell));
    }
    return ShowValue(item, ReadCell(cell, item.dataType), carried);
}

ReadProblem DescribeReadFailure(std::string_view operation, std::string_view what,
                                std::int32_t result, bool tokenUndecoded,
                                const std::optional<std::string> &reply,
                                const std::optional<std::string> &foreign) {
    const std::string code = " (" + std::string(operation) + " result " + std::to_string(result);
    if (result == EM_COMM_FAILURE && foreign) {
        const std::string shown = Escaped(*foreign);
        return ReadProblem{FailureKind::kNoAnswer,
                           std::string(what) + ": no reply to this request; the reply \"" + shown +
                               "\" answers another request and was discarded" + code + ")",
                           shown};
    }
    if (result == EM_REFUSED && tokenUndecoded) {
        return ReadProblem{FailureKind::kBadValue, std::string(what) +
                                                       ": the reply held a token em1 cannot name" +
                                                       code + ")"};
    }
    if (result == EM_REFUSED && reply && !reply->starts_with(kRefusalMark)) {
        return ReadProblem{FailureKind::kBadValue, std::string(what) +
                                                       ": the reply does not decode: \"" +
                                                       Escaped(*reply) + "\"" + code + ")"};
    }
    if (result == EM_REFUSED && reply) {
        return ReadProblem{FailureKind::kRefused,
                           std::string(what) + ": the instrument refused the request" + code + ")"};
    }
    if (result == EM_REFUSED) {
        return ReadProblem{FailureKind::kRefused, std::string(what) +
                                                      ": the instrument refused the request, or "
                                                      "its reply did not decode" +
                                                      code + "; -vv shows the reply)"};
    }
    return ReadProblem{FailureKind::kNoAnswer,
                       std::string(what) + ": no answer from the instrument" + code + ")"};
}
