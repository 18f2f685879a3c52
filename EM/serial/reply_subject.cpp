// The names at the start of a reply, read byte by byte as they arrive, so a foreign reply is
// known after its first few bytes, before its end.
#include "serial/reply_subject.h"
#include "interface/em_vocabulary.h"

#include <cstring>
#include <string_view>

namespace {

constexpr std::string_view kAlertHeader = "ALERTS";
constexpr std::string_view kAlertListRequest = "SA?\r";
// An item echo: the class, two digits, the parameter letter and "=" or "?".
constexpr std::size_t kItemEchoLength = 5;
constexpr std::size_t kMarkPosition = 4;
constexpr std::string_view kItemEcho[kItemEchoLength] = {"LM", kDigits, kDigits, kParameterLetters,
                                                         "=?"};
constexpr std::size_t kSummaryClassLength = 2;
// The longest summary echo read: its class and every parameter letter.
constexpr std::size_t kSummaryWordLimit = kSummaryClassLength + kParameterLetters.size();
// What ends the word of "ALERTS" or of a summary echo.
constexpr std::string_view kWordEnds = " \r";

enum class Named { kMore, kNothing, kSubject };

struct Naming {
    Named named;
    std::size_t length;
};

bool In(std::string_view set, char c) {
    return c != '\0' && set.find(c) != std::string_view::npos;
}

// "L01S=", "M12X?".
Naming ItemEcho(const char *bytes, std::size_t count) {
    for (std::size_t i = 0; i < count && i < kItemEchoLength; ++i) {
        if (!In(kItemEcho[i], bytes[i])) {
            return {Named::kNothing, 0};
        }
    }
    return count >= kItemEchoLength ? Naming{Named::kSubject, kItemEchoLength}
                                    : Naming{Named::kMore, 0};
}

// "ALERTS" followed by a blank or the end of its line.
Naming AlertHeader(const char *bytes, std::size_t count) {
    for (std::size_t i = 0; i < count && i < kAlertHeader.size(); ++i) {
        if (bytes[i] != kAlertHeader[i]) {
            return {Named::kNothing, 0};
        }
    }
    if (count <= kAlertHeader.size()) {
        return {Named::kMore, 0};
    }
    return In(kWordEnds, bytes[kAlertHeader.size()]) ? Naming{Named::kSubject, kAlertHeader.size()}
                                                     : Naming{Named::kNothing, 0};
}

// "DL" or "DM" and parameter letters, followed by a blank or the end of its line. The name is
// the summary's class, "DL" or "DM": the letters echoed may be fewer than those sent.
Naming SummaryEcho(const char *bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const char c = bytes[i];
        if (i >= 3 && In(kWordEnds, c)) {
            return {Named::kSubject, kSummaryClassLength};
        }
        const bool fits = i == 0 ? c == 'D' : i == 1 ? In("LM", c) : In(kParameterLetters, c);
        if (!fits || i >= kSummaryWordLimit) {
            return {Named::kNothing, 0};
        }
    }
    return {Named::kMore, 0};
}

Naming NamingOf(const char *bytes, std::size_t count) {
    if (count == 0) {
        return {Named::kMore, 0};
    }
    switch (bytes[0]) {
    case 'L':
    case 'M':
        return ItemEcho(bytes, count);
    case 'A':
        return AlertHeader(bytes, count);
    case 'D':
        return SummaryEcho(bytes, count);
    default:
        return {Named::kNothing, 0};
    }
}

void Accept(ReplySubjects &subjects, std::string_view text) {
    Subject &subject = subjects.accepted[subjects.count++];
    text.copy(subject.text, text.size());
    subject.length = text.size();
}

void AcceptItem(ReplySubjects &subjects, const char *request, char mark) {
    const char echo[kItemEchoLength] = {request[0], request[1], request[2], request[3], mark};
    Accept(subjects, std::string_view(echo, kItemEchoLength));
}

bool Accepts(const ReplySubjects &expected, std::string_view name) {
    for (std::size_t i = 0; i < expected.count; ++i) {
        const Subject &subject = expected.accepted[i];
        if (name == std::string_view(subject.text, subject.length)) {
            return true;
        }
    }
    return false;
}

} // namespace

ReplySubjects SubjectsOfRequest(const char *request) {
    ReplySubjects subjects;
    const std::string_view text = request;
    const Naming naming = NamingOf(request, text.size());
    if (text == kAlertListRequest) {
        Accept(subjects, kAlertHeader);
    } else if (naming.named != Named::kSubject || request[0] == 'A') {
        return subjects;
    } else if (request[0] == 'D') {
        Accept(subjects, text.substr(0, naming.length));
    } else if (request[kMarkPosition] == '=') {
        AcceptItem(subjects, request, '=');
        AcceptItem(subjects, request, '?');
    } else if (text.substr(kMarkPosition) == "?\r") {
        AcceptItem(subjects, request, '=');
        subjects.oneLine = true;
    }
    return subjects;
}

ReplySubjects SubjectsOfConfirmation(const char *writeRequest) {
    ReplySubjects subjects;
    if (ItemEcho(writeRequest, std::strlen(writeRequest)).named == Named::kSubject) {
        AcceptItem(subjects, writeRequest, '=');
    }
    return subjects;
}

ReplyStart JudgeReplyStart(const char *bytes, std::size_t count, const ReplySubjects &expected) {
    const Naming naming = NamingOf(bytes, count);
    switch (naming.named) {
    case Named::kMore:
        return {StartVerdict::kUndecided, false};
    case Named::kNothing:
        return {StartVerdict::kAnswer, false};
    case Named::kSubject:
        break;
    }
    if (Accepts(expected, std::string_view(bytes, naming.length))) {
        return {StartVerdict::kAnswer, false};
    }
    return {StartVerdict::kForeign, bytes[0] != kAlertHeader[0]};
}
