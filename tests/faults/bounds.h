// How long each command may take, from the driver's fixed pauses and the port's read
// timeouts. Every bound is the longest path the command's result code allows:
//
//   purge       P = 50 ms: a purge that finds bytes ends with one drain read that waits its
//               50 ms timeout (fewer than 512 bytes come in while it drains); an idle purge
//               costs nothing
//   exchange    E(T) = P + 200 + T + 50 + P: purge, request, the pause after it, the reply
//               read byte by byte, whose last read may wait the whole read timeout T when the
//               reply stops short (one silent read ends it), the pause after it, purge
//   resetError  R = 10 x 500 + P: the wait for the first byte of the answer, then the purge
//   SingleRead, BlockRead   0: E     1: E + R (refused or empty reply)    2: E + 1000 (failed
//                           exchange, then its pause)
//   SingleWrite (a value)   0: E     1: E + R     2: E     7 or 255: 2 E (the confirmation)
//   ColdStart, WarmStart    the adapter dialogue on the 2 s dialogue timeout: four steps
//                           when "S?" answers "***" (no "SI" and no 30 s wait), at most one of
//                           them ends in a silent read: 4 (E(0)) + 2000
//
// A measured time passes when it is within the bound plus kToleranceMs and kToleranceShare
// of the bound. A busy machine delays every wake-up, so the tolerance only catches a hang or
// a wait far beyond the bound (the 30 s adapter wait); the
// matrix prints the time taken beside the bound for a person to judge.
#pragma once

#include <cstdint>

namespace faults::bounds {

inline constexpr double kPurgeMs = 50;
inline constexpr double kAfterRequestMs = 200;
inline constexpr double kAfterReplyMs = 50;
inline constexpr double kFailedReadPauseMs = 1000;
inline constexpr double kResetErrorMs = 10 * 500 + kPurgeMs;
inline constexpr double kDialogueTimeoutMs = 2000;
inline constexpr int kDialogueSteps = 4;

inline constexpr double kToleranceMs = 10000;
inline constexpr double kToleranceShare = 0.5;

constexpr double Exchange(double timeoutMs) {
    return kPurgeMs + kAfterRequestMs + timeoutMs + kAfterReplyMs + kPurgeMs;
}

constexpr double Read(std::int32_t code, double timeoutMs) {
    switch (code) {
    case 0:
        return Exchange(timeoutMs);
    case 1:
        return Exchange(timeoutMs) + kResetErrorMs;
    default:
        return Exchange(timeoutMs) + kFailedReadPauseMs;
    }
}

constexpr double Write(std::int32_t code, double timeoutMs) {
    switch (code) {
    case 0:
    case 2:
        return Exchange(timeoutMs);
    case 1:
        return Exchange(timeoutMs) + kResetErrorMs;
    default:
        return 2 * Exchange(timeoutMs);
    }
}

constexpr double Dialogue() {
    return kDialogueSteps * Exchange(0) + kDialogueTimeoutMs;
}

constexpr bool Within(double measuredMs, double boundMs) {
    return measuredMs <= boundMs * (1 + kToleranceShare) + kToleranceMs;
}

} // namespace faults::bounds
