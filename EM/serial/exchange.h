// The request and reply exchange with the instrument, and the recovery after a refusal.
#pragma once

#include "interface/em_driver.h"

#include <cstdint>

inline constexpr std::uint32_t kReplyLimit = 591;                  // longest reply
inline constexpr std::uint32_t kReplyBufferSize = kReplyLimit + 1; // reply and its NUL
inline constexpr std::uint8_t kEtx = 3;
inline constexpr std::uint8_t kLineFeed = 10;

// Result codes beyond the serial layer's.
inline constexpr int kExchangeOverflow = 255; // 591 bytes and no terminator

// Reply classification.
inline constexpr int kReplyGood = 0;
inline constexpr int kReplyRefused = 1; // begins with "?"
inline constexpr int kReplyEmpty = 2;

int SendRequest(const DriverCall &call, const char *bytes, std::uint32_t count);
int ReadReply(const DriverCall &call, char (&reply)[kReplyBufferSize]);
// Sends request and gives the instrument its time to answer; the result of SendRequest.
int Ask(const DriverCall &call, const char *request);
// Sends request and reads its reply. When the request was not sent whole the reply text is
// left empty, so it never holds an earlier reply.
int Exchange(const DriverCall &call, const char *request, char (&reply)[kReplyBufferSize]);
int CheckReply(const char *reply);
int resetError(const DriverCall &call);
