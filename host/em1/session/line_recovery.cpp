#include "line_recovery.h"

#include "failure.h"
#include "port_name.h"

#include <algorithm>

namespace {
constexpr std::chrono::milliseconds kFirstPause{250};
constexpr std::chrono::milliseconds kLongestPause{4000};

// The port's name now: a link given on the command line may lead to another device after a
// hang-up or a new plug-in.
std::string CurrentName(const PortOptions &port) {
    if (port.given.empty()) {
        return port.name;
    }
    try {
        return FitPortName("--port", port.given);
    } catch (const Failure &) {
        return port.name;
    }
}

} // namespace

bool ReopenLine(Instance &instance, const StartOptions &options) {
    if (instance.PortOpen()) {
        instance.Call(EM_CMD_CLOSE_PORT);
    }
    ReopenPortParameters parameters{};
    CurrentName(options.port).copy(parameters.portName, sizeof parameters.portName - 1);
    parameters.replyTimeout = options.port.replyTimeout;
    parameters.line = options.line;
    return instance.Call(EM_CMD_REOPEN_PORT, &parameters) == EM_OK && instance.PortOpen();
}

std::chrono::milliseconds BackOff(int attempt) {
    return std::min<std::chrono::milliseconds>(kLongestPause,
                                               kFirstPause * (1 << std::min(attempt, 5)));
}

bool RecoverLine(Instance &instance, const StartOptions &options,
                 std::chrono::steady_clock::time_point deadline,
                 const std::function<bool(std::chrono::milliseconds)> &wait) {
    for (int attempt = 0; std::chrono::steady_clock::now() < deadline; ++attempt) {
        if (!wait(BackOff(attempt))) {
            return false;
        }
        if (ReopenLine(instance, options)) {
            return true;
        }
    }
    return false;
}
