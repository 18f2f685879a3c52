// One request and its reply, the reply's classification, and the recovery after a refusal.
//
// Every wait goes through the serial layer: fixed pauses through SerialPause, waits for
// bytes through the port's read timeout.
#include "serial/exchange.h"
#include "interface/em_vocabulary.h"
#include "interface/log.h"
#include "serial/byte_escape.h"
#include "serial/serial.h"
#include "serial/trace_grammar.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint32_t kAfterRequestPauseMs = 200;
constexpr std::uint32_t kAfterReplyPauseMs = 50;

constexpr char kReadyMark[] = "***\r";
constexpr int kAnswerPolls = 10;
constexpr std::uint32_t kAnswerPollMs = 500;
constexpr std::uint32_t kAnswerLimit = 590;

// Waits for the first byte of an answer: at most kAnswerPolls pauses.
void AwaitAnswer(SerialHandle port) {
    for (int pauses = 0; BytesQueued(port) == 0 && pauses < kAnswerPolls; ++pauses) {
        SerialPause(kAnswerPollMs);
    }
}

struct Collected {
    std::uint32_t count = 0;
    SerialResult lastRead = SerialResult::kOk;
};

// Takes the bytes waiting, without waiting for more, until the area is full. A read that
// delivers nothing ends the collection, so a queue that reports bytes it cannot deliver
// does not hold it forever.
Collected CollectAnswer(SerialHandle port, char (&area)[kAnswerLimit + 1]) {
    Collected collected;
    std::uint32_t waiting = 0;
    while (collected.count < kAnswerLimit && (waiting = BytesQueued(port)) > 0) {
        const std::uint32_t ask = std::min(waiting, kAnswerLimit - collected.count);
        std::uint32_t got = 0;
        collected.lastRead = SerialRead(port, area + collected.count, ask, &got);
        collected.count += got;
        if (got == 0) {
            break;
        }
    }
    return collected;
}

// Room for a whole reply with every byte escaped, and its NUL.
constexpr std::size_t kEscapedReplySize = kReplyLimit * kEscapeMax + 1;

bool ReadByte(SerialHandle port, char &byte) {
    std::uint32_t got = 0;
    return SerialRead(port, &byte, 1, &got) == SerialResult::kOk && got == 1;
}

// A foreign reply in the log, escaped as the line trace shows it, so its line feeds and
// control bytes never break the log line apart.
void LogForeignReply(const DriverCall &call, const char *bytes, std::uint32_t count) {
    char text[kEscapedReplySize];
    std::size_t length = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        char escaped[kEscapeMax];
        const std::size_t size = EscapeByte(static_cast<unsigned char>(bytes[i]), escaped);
        std::memcpy(text + length, escaped, size);
        length += size;
    }
    text[length] = '\0';
    err(kLogDetail, "ZEL%d: EM: ReadReply(): discarded the reply to another request: \"%s\"",
        call.driverNumber, text);
}

bool EndsForeignReply(const ReplyStart &start, char byte) {
    const auto value = static_cast<unsigned char>(byte);
    return value == kEtx || (start.endsAtLineFeed && value == kLineFeed);
}

// Throws away the count bytes of a foreign reply in reply: they count against the budget of
// the exchange, are logged and noted in the line trace, so the reply after them is told apart.
void DropForeignReply(const DriverCall &call, const char (&reply)[kReplyBufferSize],
                      std::uint32_t count, std::uint32_t &budget) {
    budget -= std::min(count, budget);
    LogForeignReply(call, reply, count);
    SerialTraceEvent(call.state->portHandle, kForeignReplyEvent);
}

// Reads a foreign reply, whose first count bytes are in reply, up to its own end; its bytes
// count against the budget of the exchange. It is logged and noted in the line trace, so the
// reply after it is told apart. True when it ended within the budget.
bool DiscardForeignReply(const DriverCall &call, const ReplyStart &start,
                         char (&reply)[kReplyBufferSize], std::uint32_t count,
                         std::uint32_t &budget) {
    const SerialHandle port = call.state->portHandle;
    bool ended = false;
    while (!ended && count < budget && ReadByte(port, reply[count])) {
        ended = EndsForeignReply(start, reply[count]);
        ++count;
    }
    DropForeignReply(call, reply, count, budget);
    return ended;
}

// A reply that named the item read and that a line feed ends before its terminator was a
// write's acknowledgement of that item, not the one-line reply to the read.
bool EndsAcknowledgement(const ReplySubjects &expected, std::uint8_t terminator, const char *reply,
                         std::uint32_t received) {
    const Subject &item = expected.accepted[0];
    return expected.oneLine && terminator != kLineFeed &&
           static_cast<unsigned char>(reply[received - 1]) == kLineFeed && received > item.length &&
           std::memcmp(reply, item.text, item.length) == 0;
}

bool IsReplyEnd(char byte, std::uint8_t terminator) {
    const auto value = static_cast<unsigned char>(byte);
    return value == terminator || byte == '\r';
}

// What a request's write gives the exchange: SerialWrite knows no other failures.
ExchangeResult SentResult(SerialResult written) {
    switch (written) {
    case SerialResult::kOk:
        return ExchangeResult::kOk;
    case SerialResult::kShortWrite:
        return ExchangeResult::kShortWrite;
    default:
        return ExchangeResult::kIoFailed;
    }
}

} // namespace

std::int32_t HostResult(ExchangeResult result) {
    switch (result) {
    case ExchangeResult::kOk:
        return EM_OK;
    case ExchangeResult::kShortWrite:
        return EM_COMM_FAILURE;
    case ExchangeResult::kIoFailed:
        return EM_IO_FAILED;
    case ExchangeResult::kOverflow:
        return EM_REPLY_OVERFLOW;
    }
    return EM_IO_FAILED;
}

std::int32_t HostResult(ReplyCheck check) {
    switch (check) {
    case ReplyCheck::kGood:
        return EM_OK;
    case ReplyCheck::kRefused:
        return EM_REFUSED;
    case ReplyCheck::kEmpty:
        return EM_COMM_FAILURE;
    }
    return EM_COMM_FAILURE;
}

SerialResult SendRequest(const DriverCall &call, const char *bytes, std::uint32_t count) {
    const SerialHandle port = call.state->portHandle;
    SerialPurge(port);
    return SerialWrite(port, bytes, count, nullptr);
}

// Each byte is judged against the expected subjects until the reply's start is known; a
// foreign start sends the reply away and the next byte begins a reply anew.
ExchangeResult ReadReply(const DriverCall &call, const ReplySubjects &expected,
                         char (&reply)[kReplyBufferSize]) {
    const SerialHandle port = call.state->portHandle;
    const std::uint8_t terminator = call.state->replyTerminator;
    std::uint32_t received = 0;
    std::uint32_t discardable = kReplyLimit;
    bool judged = false;
    bool silent = false;
    while (!silent && received < kReplyLimit) {
        if (!ReadByte(port, reply[received])) {
            silent = true;
            break;
        }
        ++received;
        if (!judged) {
            const ReplyStart start = JudgeReplyStart(reply, received, expected);
            if (start.verdict == StartVerdict::kForeign) {
                silent = !DiscardForeignReply(call, start, reply, received, discardable);
                received = 0;
                continue;
            }
            judged = start.verdict == StartVerdict::kAnswer;
        }
        if (EndsAcknowledgement(expected, terminator, reply, received)) {
            silent = received > discardable;
            DropForeignReply(call, reply, received, discardable);
            received = 0;
            judged = false;
            continue;
        }
        if (static_cast<unsigned char>(reply[received - 1]) == terminator) {
            break;
        }
    }
    reply[received] = '\0';
    SerialPause(kAfterReplyPauseMs);
    SerialPurge(port);
    if (silent) {
        return ExchangeResult::kIoFailed;
    }
    return IsReplyEnd(reply[received - 1], terminator) ? ExchangeResult::kOk
                                                       : ExchangeResult::kOverflow;
}

ExchangeResult Ask(const DriverCall &call, const char *request) {
    const ExchangeResult sent =
        SentResult(SendRequest(call, request, static_cast<std::uint32_t>(std::strlen(request))));
    SerialPause(kAfterRequestPauseMs);
    return sent;
}

ExchangeResult Exchange(const DriverCall &call, const char *request,
                        char (&reply)[kReplyBufferSize]) {
    const ExchangeResult sent = Ask(call, request);
    if (sent != ExchangeResult::kOk) {
        // A request that was not sent has no reply: the caller's buffer must not keep an
        // earlier reply that could be judged in its place.
        reply[0] = '\0';
        return sent;
    }
    return ReadReply(call, SubjectsOfRequest(request), reply);
}

ReplyCheck CheckReply(const char *reply) {
    if (reply == nullptr || reply[0] == '\0') {
        return ReplyCheck::kEmpty;
    }
    return reply[0] == kRefusalMark ? ReplyCheck::kRefused : ReplyCheck::kGood;
}

// Asks for the status and succeeds when the answer holds "***\r". The collection area has
// one byte more than it collects, so its NUL ends the search for the mark.
std::int32_t resetError(const DriverCall &call) {
    const SerialHandle port = call.state->portHandle;
    SerialWrite(port, kStatusRequest.data(), static_cast<std::uint32_t>(kStatusRequest.size()),
                nullptr);
    AwaitAnswer(port);
    char area[kAnswerLimit + 1] = {};
    const Collected collected = CollectAnswer(port, area);
    const bool ready = collected.count > 0 && std::strstr(area, kReadyMark) != nullptr &&
                       collected.lastRead == SerialResult::kOk;
    SerialPurge(port);
    if (ready) {
        err(kLogDetail, "ZEL%02d: EM: resetError(): success rc = %d", call.driverNumber, EM_OK);
        return EM_OK;
    }
    err(kLogDetail, "ZEL%02d: EM: resetError(): fail rc = %d", call.driverNumber, EM_COMM_FAILURE);
    return EM_COMM_FAILURE;
}
