#include "startup.h"

#include "failure.h"
#include "platform.h"
#include "progress.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr std::uint8_t kEtx = 3; // the reply terminator of normal operation

std::string DialogueOutcome(std::int32_t result) {
    switch (result) {
    case EM_REFUSED:
        return "the instrument refused the last set-up request";
    case EM_COMM_FAILURE:
        return "the last set-up request got no reply";
    case EM_ADAPTER_FAILED:
        return "a set-up request before the last was refused or not answered";
    default:
        return "an unexpected result";
    }
}

[[noreturn]] void ThrowNotReady(const std::string &port, std::int32_t result) {
    throw Failure(FailureKind::kNoAnswer,
                  "adapter not ready on " + port + ": the adapter dialogue failed with result " +
                      std::to_string(result) + " (" + DialogueOutcome(result) +
                      "); check that the instrument is on, connected, and set to the same line "
                      "settings");
}

std::int32_t RunDialogue(Instance &instance, const StartOptions &options, std::int32_t command,
                         void *parameters, const std::string &what) {
    return RunWithProgress(
        "starting the instance on " + options.port.name + ": " + what, options.showProgress,
        [&instance, command, parameters] { return instance.Call(command, parameters); });
}

// WarmStart reruns the adapter dialogue on the open port and returns its result.
void WarmStart(Instance &instance, const StartOptions &options, const std::string &what) {
    const std::int32_t result = RunDialogue(instance, options, EM_CMD_WARM_START, nullptr, what);
    if (result != EM_OK || instance.State().adapterReady != 1) {
        ThrowNotReady(options.port.name, result);
    }
}

void ColdStart(Instance &instance, const StartOptions &options) {
    ColdStartParameters parameters{};
    options.port.name.copy(parameters.portName, sizeof parameters.portName - 1);
    parameters.enabled = 1;
    parameters.replyTimeout = options.port.replyTimeout;
    parameters.line = options.line;
    const std::int32_t result = RunDialogue(instance, options, EM_CMD_COLD_START, &parameters,
                                            "adapter dialogue (ColdStart)");
    if (result == EM_COMM_FAILURE) {
        ThrowPortFailure("ColdStart", options.port.name, options.line);
    }
    if (result != EM_OK) {
        throw Failure(FailureKind::kNoAnswer,
                      "ColdStart failed with result " + std::to_string(result));
    }
    if (instance.State().adapterReady == 1) {
        return;
    }
    // ColdStart answers 0 even when the dialogue failed; WarmStart runs it once more and
    // gives its result.
    WarmStart(instance, options, "adapter not ready, dialogue again (WarmStart)");
    std::fputs("em1: the adapter became ready on the second dialogue\n", stderr);
}

void OpenRecordedPort(Instance &instance, const StartOptions &options) {
    RecordPortSettings(instance.State(), options.port, options.line);
    if (instance.Call(EM_CMD_OPEN_PORT) != EM_OK) {
        ThrowPortFailure("OpenPort", options.port.name, options.line);
    }
}

} // namespace

LineSettings ResolveLine(const PortOptions &port, const LineSettings &defaults) {
    return LineSettings{
        port.baudRate.value_or(defaults.baudRate), port.dataBits.value_or(defaults.dataBits),
        port.stopBits.value_or(defaults.stopBits), port.parity.value_or(defaults.parity)};
}

void ThrowPortFailure(const std::string &command, const std::string &name,
                      const LineSettings &line) {
    throw Failure(FailureKind::kPortUnavailable, "cannot open port " + name + " (" + command +
                                                     " result " + std::to_string(EM_COMM_FAILURE) +
                                                     "): " + DiagnosePortOpen(name, line));
}

void RecordPortSettings(DriverState &state, const PortOptions &port, const LineSettings &line) {
    std::memset(state.port.portName, 0, sizeof state.port.portName);
    port.name.copy(state.port.portName, sizeof state.port.portName - 1);
    state.port.line = line;
    state.port.openFlags = static_cast<std::uint16_t>(port.dtr | port.rts);
    state.replyTimeout = port.replyTimeout;
    state.replyTerminator = kEtx;
    state.reserved = 0;
}

void StartInstance(Instance &instance, const StartOptions &options) {
    if (!options.noStart && UsesStartupLines(options.port)) {
        ColdStart(instance, options);
        return;
    }
    OpenRecordedPort(instance, options);
    if (!options.noStart) {
        WarmStart(instance, options, "adapter dialogue (OpenPort, WarmStart)");
    }
}
