#include "gateway_log.h"

#include <cstdio>

void GatewayLog(const std::string &who, const std::string &message) {
    // One call per line: lines of several threads never interleave.
    std::fprintf(stderr, "em1 gateway: %s: %s\n", who.c_str(), message.c_str());
}
