// The gateway's log: one line per event on standard error, as journald and other collectors
// take it: "em1 gateway: WHO: what happened".
#pragma once

#include <string>

void GatewayLog(const std::string &who, const std::string &message);
