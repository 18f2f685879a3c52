#include "loaded_driver.h"

#include "failure.h"

#include <cstring>

namespace {
// The host's number for its one instance; the driver shows it in its log lines.
constexpr std::int32_t kDriverNumber = 1;
} // namespace

Driver::Driver(const std::string &path) : path_(path) {
    std::string error;
    if (!LoadDriverLibrary(path, library_, error)) {
        throw Failure(FailureKind::kNoDriver, "cannot load the driver: " + error);
    }
}

Driver::~Driver() {
    UnloadDriverLibrary(library_);
}

std::int32_t Driver::Call(DriverState *state, std::int32_t command, void *parameters) const {
    const DriverCall call{state, command, kDriverNumber, 0, parameters};
    return library_.zelMain(&call);
}

DriverInfo Driver::Info() const {
    DriverInfo info{};
    DriverState state{};
    if (const std::int32_t result = Call(&state, EM_CMD_GET_DRIVER_INFO, &info); result != EM_OK) {
        throw Failure(FailureKind::kNoDriver, path_ + " answers GetDriverInfo with result " +
                                                  std::to_string(result) +
                                                  "; is it the EM-1 driver?");
    }
    return info;
}

std::string DefaultDriverPath() {
    return ExecutableFolder() + DriverFileName();
}

Instance::~Instance() {
    if (!PortOpen()) {
        return;
    }
    try {
        Call(EM_CMD_SHUTDOWN);
    } catch (const Failure &) {
        // The port is shut down all the same; what the trace could not tell is told already.
    }
}

std::string Instance::PortName() const {
    return {state_.port.portName, strnlen(state_.port.portName, sizeof state_.port.portName)};
}

std::int32_t Instance::Call(std::int32_t command, void *parameters) {
    std::int32_t result = EM_OK;
    {
        const LineTrace::CallHold hold(trace_);
        result = driver_.Call(&state_, command, parameters);
        lastLine_ = trace_.TakeNew(PortName());
    }
    trace_.Trim();
    if (echo_) {
        for (const auto &event : lastLine_) {
            echo_(event);
        }
    }
    portTraced_ = OpenedByTrace(lastLine_).value_or(portTraced_ && PortOpen());
    if (PortOpen() && !portTraced_) {
        throw Failure(FailureKind::kTraceUnreadable,
                      "the driver keeps no line trace of port " + PortName() + " in " +
                          trace_.Path() +
                          " (it traces 64 ports at most); em1 cannot tell what happened on the "
                          "line, and reports nothing it cannot know");
    }
    return result;
}
