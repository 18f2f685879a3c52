// Request and reply exchange (placeholder until the exchange lands).
#include "serial/exchange.h"

int SendRequest(const DriverCall &, const char *, std::uint32_t) {
    return 7;
}
int ReadReply(const DriverCall &, char (&reply)[kReplyBufferSize]) {
    reply[0] = '\0';
    return 7;
}
int Exchange(const DriverCall &, const char *, char (&reply)[kReplyBufferSize]) {
    reply[0] = '\0';
    return 7;
}
int CheckReply(const char *reply) {
    return reply[0] == '\0' ? kReplyEmpty : reply[0] == '?' ? kReplyRefused : kReplyGood;
}
int resetError(const DriverCall &) {
    return 2;
}
