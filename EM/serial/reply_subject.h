// What a reply says it answers. Many of the instrument's replies begin by naming their
// request: a read of L01S is answered "L01S=26.0", a write "L01S=12.5 ***" or with the
// question "L01P? 45.0 Y/N", the alert list "ALERTS 2", a summary definition "DLSV%X ***".
// A reply whose start names another request is a late reply to an earlier one, and must never
// be taken for the reply to this one. Replies that name nothing ("***", "REV 2.14", block
// lines, "?") tell nothing about their request and are taken as they come.
#pragma once

#include <cstddef>

// The longest name: "ALERTS".
inline constexpr std::size_t kSubjectLimit = 6;

// A name a reply may start with: an item and its mark ("L01S=", "L01P?"), "ALERTS", or the
// class of a summary definition's echo ("DL" of "DLSV%X ***", "DM").
struct Subject {
    char text[kSubjectLimit] = {};
    std::size_t length = 0;
};

// The names the reply to one request may start with; none for a request whose replies name
// nothing, which makes every named reply a foreign one.
struct ReplySubjects {
    Subject accepted[2];
    std::size_t count = 0;
    // The reply is one line, "L01S=26.0\r" and ETX: a line feed before its end closes the
    // acknowledgement of a write of the same item ("L01S=12.5 ***\r\n"), a late reply to
    // another request that names the item as this one's would.
    bool oneLine = false;
};

// From the request text: "L01S?\r" is answered by "L01S=", a value write "L01S=12.5\r" by
// "L01S=" or "L01S?", "SA?\r" by "ALERTS", "DLSV%X\r" and "DMVX\r" by an echo of their class.
ReplySubjects SubjectsOfRequest(const char *request);
// The answer to "Y" after a write's confirmation question names the written item with "=".
ReplySubjects SubjectsOfConfirmation(const char *writeRequest);

enum class StartVerdict {
    kUndecided, // the bytes so far could still begin a name
    kAnswer,    // names one of the accepted subjects, or nothing
    kForeign,   // names another request
};

struct ReplyStart {
    StartVerdict verdict;
    bool endsAtLineFeed; // a foreign item or summary reply ends at "\n" as well as at ETX
};

// Judges the first count bytes of a reply against the names its request accepts.
ReplyStart JudgeReplyStart(const char *bytes, std::size_t count, const ReplySubjects &expected);
