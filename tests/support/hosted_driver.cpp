#include "hosted_driver.h"

#include <fstream>
#include <sstream>

namespace {
constexpr LineSettings kLine{9600, 8, 0, 0};
} // namespace

HostedDriver::~HostedDriver() {
    if (library_.zelMain != nullptr) {
        Call(EM_CMD_SHUTDOWN);
        UnloadDriverLibrary(library_);
    }
}

bool HostedDriver::Load(const std::string &path, std::string &error) {
    return LoadDriverLibrary(path, library_, error);
}

std::int32_t HostedDriver::Call(std::int32_t command, void *params) {
    DriverCall call{&state, command, driverNumber, 0, params};
    return library_.zelMain(&call);
}

std::int32_t HostedDriver::ColdStart(const std::string &port, std::int32_t timeout) {
    ColdStartParameters params{};
    port.copy(params.portName, sizeof params.portName - 1);
    params.enabled = 1;
    params.replyTimeout = timeout;
    params.line = kLine;
    return Call(EM_CMD_COLD_START, &params);
}

std::int32_t HostedDriver::Reopen(const std::string &port, std::int32_t timeout) {
    ReopenPortParameters params{};
    port.copy(params.portName, sizeof params.portName - 1);
    params.replyTimeout = timeout;
    params.line = kLine;
    return Call(EM_CMD_REOPEN_PORT, &params);
}

std::string ReadTextFile(const std::string &path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}
