#include "gateway_messages.h"

#include "clock_text.h"
#include "line_trace.h"
#include "vocabulary.h"

namespace {

std::string Stamped(std::string json, WallTime time) {
    json.pop_back(); // the closing brace
    return json + ",\"time\":" + JsonString(UtcStamp(time)) + "}";
}

} // namespace

std::string WriteOutcomeWord(WriteOutcome outcome) {
    switch (outcome) {
    case WriteOutcome::kWritten:
        return "written";
    case WriteOutcome::kInexact:
        return "inexact";
    case WriteOutcome::kUnconfirmed:
        return "unconfirmed";
    case WriteOutcome::kNotSent:
        return "rejected";
    default:
        return "refused";
    }
}

namespace {

// The start of every result: the item, the request as given, and its id when it had one.
std::string ResultHead(const std::string &item, const SetRequest &request) {
    std::string json =
        "{\"item\":" + JsonString(item) + ",\"request\":" + JsonString(request.value);
    if (!request.id.empty()) {
        json += ",\"id\":" + request.id;
    }
    return json;
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

std::string WriteResultMessage(const Item &item, const SetRequest &request,
                               const WriteReport &report, WallTime time) {
    std::string json = ResultHead(item.address, request) +
                       ",\"outcome\":" + JsonString(WriteOutcomeWord(report.outcome));
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
    std::string words = WriteOutcomeWord(report.outcome);
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

std::string OutcomeWord(TurnedDown outcome) {
    return outcome == TurnedDown::kRejected ? "rejected" : "ignored";
}

std::string TurnedDownMessage(const std::string &item, const SetRequest &request,
                              TurnedDown outcome, const std::string &reason, WallTime time) {
    return Stamped(ResultHead(item, request) + ",\"outcome\":" + JsonString(OutcomeWord(outcome)) +
                       ",\"reason\":" + JsonString(reason) + "}",
                   time);
}
