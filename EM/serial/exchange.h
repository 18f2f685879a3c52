// The request and reply exchange with the instrument, and the recovery after a refusal.
#pragma once

#include "interface/em_driver.h"
#include "serial/serial.h"

#include <cstdint>

inline constexpr std::uint32_t kReplyLimit = 591;                  // longest reply
inline constexpr std::uint32_t kReplyBufferSize = kReplyLimit + 1; // reply and its NUL
inline constexpr std::uint8_t kEtx = 3;
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
ExchangeResult ReadReply(const DriverCall &call, char (&reply)[kReplyBufferSize]);
// Sends request and gives the instrument its time to answer; the outcome of the send.
ExchangeResult Ask(const DriverCall &call, const char *request);
// Sends request and reads its reply. When the request was not sent whole the reply text is
// left empty, so it never holds an earlier reply.
ExchangeResult Exchange(const DriverCall &call, const char *request,
                        char (&reply)[kReplyBufferSize]);
ReplyCheck CheckReply(const char *reply);
// EM_OK when the instrument answered ready ("***\r"), EM_COMM_FAILURE otherwise.
std::int32_t resetError(const DriverCall &call);
