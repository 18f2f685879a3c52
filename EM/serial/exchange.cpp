// One request and its reply, the reply's classification, and the recovery after a refusal.
//
// Every wait goes through the serial layer: fixed pauses through SerialPause, waits for
// bytes through the port's read timeout.
#include "serial/exchange.h"
#include "interface/log.h"
#include "serial/serial.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint32_t kAfterRequestPauseMs = 200;
constexpr std::uint32_t kAfterReplyPauseMs = 50;

constexpr char kStatusRequest[] = "S?\r";
constexpr char kReadyMark[] = "***\r";
constexpr int kAnswerPolls = 10;
constexpr std::uint32_t kAnswerPollMs = 500;
constexpr std::uint32_t kAnswerLimit = 590;
constexpr int kResetFailed = 2;

// Waits for the first byte of an answer: at most kAnswerPolls pauses.
void AwaitAnswer(SerialHandle port) {
    for (int pauses = 0; BytesQueued(port) == 0 && pauses < kAnswerPolls; ++pauses) {
        SerialPause(kAnswerPollMs);
    }
}

struct Collected {
    std::uint32_t count = 0;
    int lastRead = kSerialOk;
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

bool IsReplyEnd(char byte, std::uint8_t terminator) {
    const auto value = static_cast<unsigned char>(byte);
    return value == terminator || byte == '\r';
}

} // namespace

int SendRequest(const DriverCall &call, const char *bytes, std::uint32_t count) {
    const SerialHandle port = call.state->portHandle;
    SerialPurge(port);
    return SerialWrite(port, bytes, count, nullptr);
}

int ReadReply(const DriverCall &call, char (&reply)[kReplyBufferSize]) {
    const SerialHandle port = call.state->portHandle;
    const std::uint8_t terminator = call.state->replyTerminator;
    std::uint32_t received = 0;
    bool silent = false;
    while (received < kReplyLimit) {
        std::uint32_t got = 0;
        if (SerialRead(port, &reply[received], 1, &got) != kSerialOk || got != 1) {
            silent = true;
            break;
        }
        ++received;
        if (static_cast<unsigned char>(reply[received - 1]) == terminator) {
            break;
        }
    }
    reply[received] = '\0';
    SerialPause(kAfterReplyPauseMs);
    SerialPurge(port);
    if (silent) {
        return kSerialIoFailed;
    }
    return IsReplyEnd(reply[received - 1], terminator) ? kSerialOk : kExchangeOverflow;
}

int Ask(const DriverCall &call, const char *request) {
    const int sent = SendRequest(call, request, static_cast<std::uint32_t>(std::strlen(request)));
    SerialPause(kAfterRequestPauseMs);
    return sent;
}

int Exchange(const DriverCall &call, const char *request, char (&reply)[kReplyBufferSize]) {
    const int sent = Ask(call, request);
    if (sent != kSerialOk) {
        // A request that was not sent has no reply: the caller's buffer must not keep an
        // earlier reply that could be judged in its place.
        reply[0] = '\0';
        return sent;
    }
    return ReadReply(call, reply);
}

int CheckReply(const char *reply) {
    if (reply == nullptr || reply[0] == '\0') {
        return kReplyEmpty;
    }
    return reply[0] == '?' ? kReplyRefused : kReplyGood;
}

// Asks for the status and succeeds when the answer holds "***\r". The collection area has
// one byte more than it collects, so its NUL ends the search for the mark.
int resetError(const DriverCall &call) {
    const SerialHandle port = call.state->portHandle;
    SerialWrite(port, kStatusRequest, sizeof kStatusRequest - 1, nullptr);
    AwaitAnswer(port);
    char area[kAnswerLimit + 1] = {};
    const Collected collected = CollectAnswer(port, area);
    const bool ready = collected.count > 0 && std::strstr(area, kReadyMark) != nullptr &&
                       collected.lastRead == kSerialOk;
    SerialPurge(port);
    if (ready) {
        err(kLogDetail, "ZEL%02d: EM: resetError(): success rc = %d", call.driverNumber, 0);
        return 0;
    }
    err(kLogDetail, "ZEL%02d: EM: resetError(): fail rc = %d", call.driverNumber, kResetFailed);
    return kResetFailed;
}
