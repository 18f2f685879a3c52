#include "gateway_messages.h"

#include "clock_text.h"
#include "line_trace.h"
#include "vocabulary.h"

namespace {

std::string Stamped(std::string json, WallTime time) {
    json.pop_back(); // the closing brace
    return json + ",\"time\":" + JsonString(UtcStamp(time)) + "}";
}

std::string AlertAddress(std::size_t flag) {
    return (flag < 10 ? "A0" : "A") + std::to_string(flag);
}

std::string Outcome(WriteOutcome outcome) {
    switch (outcome) {
    case WriteOutcome::kWritten:
        return "written";
    case WriteOutcome::kInexact:
        return "inexact";
    case WriteOutcome::kUnconfirmed:
        return "unconfirmed";
    default:
        return "refused";
    }
}

std::string Reason(const WriteReport &report) {
    switch (report.outcome) {
    case WriteOutcome::kInexact:
        return "the instrument acknowledged the value but holds another one";
    case WriteOutcome::kRefused:
        return "the instrument refused the value (reply \"" + Escaped(report.reply.value_or("")) +
               "\")";
    case WriteOutcome::kNotSent:
        return "nothing reached the line";
    case WriteOutcome::kUnconfirmed:
        return "it may have been applied: " + WhyUnconfirmed(report);
    default:
        return "";
    }
}

} // namespace

std::string ReadingMessage(const Item &item, const ItemResult &result, WallTime time) {
    return Stamped(JsonItem(item, result), time);
}

std::string AlertsMessage(const std::vector<std::size_t> &activeFlags, WallTime time) {
    std::string json = "{\"active\":[";
    for (std::size_t i = 0; i < activeFlags.size(); ++i) {
        const std::size_t flag = activeFlags[i];
        json += (i == 0 ? "{\"item\":" : ",{\"item\":") + JsonString(AlertAddress(flag)) +
                ",\"name\":" + JsonString(std::string(kAlertTable[flag])) + "}";
    }
    return Stamped(json + "]}", time);
}

std::string WriteResultMessage(const Item &item, const std::string &request,
                               const WriteReport &report, WallTime time) {
    std::string json = "{\"item\":" + JsonString(item.address) +
                       ",\"request\":" + JsonString(request) +
                       ",\"outcome\":" + JsonString(Outcome(report.outcome));
    if (report.outcome != WriteOutcome::kWritten) {
        json += ",\"reason\":" + JsonString(Reason(report));
    }
    if (report.sent) {
        json += ",\"sent\":" + JsonString(*report.sent);
    }
    if (report.readBack && !report.readBack->problem) {
        // The value the instrument holds, as its reading shows it.
        const std::string reading = JsonItem(item, *report.readBack);
        json += ",\"readBack\":" + reading + ",\"held\":" + (report.held ? "true" : "false");
    } else if (report.readBack) {
        json += ",\"readBackError\":" + JsonString(report.readBack->problem->message);
    }
    return Stamped(json + "}", time);
}

std::string WriteResultWords(const WriteReport &report) {
    std::string words = Outcome(report.outcome);
    if (report.outcome != WriteOutcome::kWritten) {
        words += ": " + Reason(report);
    }
    if (report.sent) {
        words += "; the line carried " + *report.sent;
    }
    if (report.readBack && !report.readBack->problem) {
        words += "; the instrument holds " + report.readBack->shown.text;
    }
    return words;
}

std::string RefusedMessage(const std::string &item, const std::string &request,
                           const std::string &reason, WallTime time) {
    return Stamped("{\"item\":" + JsonString(item) + ",\"request\":" + JsonString(request) +
                       ",\"outcome\":\"refused\",\"reason\":" + JsonString(reason) + "}",
                   time);
}
