// The request and reply exchange with the instrument, and the recovery after a refusal.
#pragma once

#include "interface/em_driver.h"
#include "protocol/reply_lines.h"
#include "serial/reply_subject.h"
#include "serial/serial.h"

#include <cstdint>

inline constexpr std::uint32_t kReplyLimit = 591;                  // longest reply
inline constexpr std::uint32_t kReplyBufferSize = kReplyLimit + 1; // reply and its NUL
inline constexpr std::uint8_t kLineFeed = 10;

// What an exchange gives: the serial layer's write and read outcomes, and the overflow of a
// reply that never ends.
enum class ExchangeResult {
    kOk = 0,
    kShortWrite = 2, // the request was written short
    kIoFailed = 7,   // the write failed, or the reply did not come (whole) in time
    kOverflow = 255, // 591 bytes and no terminator
};

// Reply classification.
enum class ReplyCheck {
    kGood = 0,
    kRefused = 1, // begins with "?"
    kEmpty = 2,
};

// The host's result code for each outcome, where a command passes one on.
std::int32_t HostResult(ExchangeResult result);
std::int32_t HostResult(ReplyCheck check);

SerialResult SendRequest(const DriverCall &call, const char *bytes, std::uint32_t count);
// Reads the reply up to the reply terminator. A reply whose start names none of the expected
// subjects answers another request: it is read to its own end, logged, noted in the line
// trace and thrown away, and reading goes on for the reply to this request, each byte
// waiting at most the read timeout as before. At most kReplyLimit bytes of such replies are
// thrown away in one exchange. When no reply but foreign ones came, the result is kIoFailed
// with an empty reply text, as when no reply came at all.
ExchangeResult ReadReply(const DriverCall &call, const ReplySubjects &expected,
                         char (&reply)[kReplyBufferSize]);
// Sends request and gives the instrument its time to answer; the outcome of the send.
ExchangeResult Ask(const DriverCall &call, const char *request);
// Sends request and reads its reply, expecting the subjects that the request's replies name.
// When the request was not sent whole the reply text is left empty, so it never holds an
// earlier reply.
ExchangeResult Exchange(const DriverCall &call, const char *request,
                        char (&reply)[kReplyBufferSize]);
ReplyCheck CheckReply(const char *reply);
// EM_OK when the instrument answered ready ("***\r"), EM_COMM_FAILURE otherwise.
std::int32_t resetError(const DriverCall &call);
