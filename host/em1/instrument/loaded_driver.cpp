#include "driver.h"

#include "exit_status.h"

#include <cstring>

namespace {
// The host's number for its one instance; the driver shows it in its log lines.
constexpr std::int32_t kDriverNumber = 1;
} // namespace

Driver::Driver(const std::string &path) : path_(path) {
    std::string error;
    if (!LoadDriverLibrary(path, library_, error)) {
        throw Failure(ExitStatus::kNoDriver, "cannot load the driver: " + error);
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
    if (const std::int32_t result = Call(&state, EM_CMD_GET_DRIVER_INFO, &info); result != 0) {
        throw Failure(ExitStatus::kNoDriver, path_ + " answers GetDriverInfo with result " +
                                                 std::to_string(result) +
                                                 "; is it the EM-1 driver?");
    }
    return info;
}

std::string DefaultDriverPath() {
    return ExecutableFolder() + DriverFileName();
}

Instance::~Instance() {
    if (PortOpen()) {
        Call(EM_CMD_SHUTDOWN);
    }
}

std::int32_t Instance::Call(std::int32_t command, void *parameters) {
    if (trace_ == nullptr) {
        return driver_.Call(&state_, command, parameters);
    }
    std::int32_t result = 0;
    {
        const LineTrace::CallHold hold(*trace_);
        result = driver_.Call(&state_, command, parameters);
        lastLine_ = trace_->TakeNew(Escaped(std::string(
            state_.port.portName, strnlen(state_.port.portName, sizeof state_.port.portName))));
    }
    trace_->Trim();
    if (echo_) {
        for (const auto &event : lastLine_) {
            echo_(event);
        }
    }
    return result;
}
