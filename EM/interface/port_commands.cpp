// ClosePort, Shutdown, OpenPort and ReopenPort: port control without the adapter dialogue.
#include "interface/handlers.h"
#include "interface/startup.h"
#include "serial/serial.h"

#include <cstring>

std::int32_t ClosePort(const DriverCall &call) {
    if (call.state == nullptr) {
        return EM_REFUSED;
    }
    DriverState &state = *call.state;
    const SerialHandle port = state.portHandle;
    if (port == 0) {
        return EM_OK;
    }
    if (!SerialHolds(port)) {
        // No port of this library's: nothing to close, and the number is not used again.
        state.portHandle = 0;
        return EM_OK;
    }
    // A closed port's number is forgotten at once: another instance's thread may already hold
    // a port under it. After a failed close the number is kept only while the port is still
    // held; one that released the port may be handed out again as well.
    const SerialResult closed = SerialClose(port);
    if (closed == SerialResult::kOk || !SerialHolds(port)) {
        state.portHandle = 0;
    }
    return closed == SerialResult::kOk ? EM_OK : EM_COMM_FAILURE;
}

std::int32_t Shutdown(const DriverCall &call) {
    return ClosePort(call);
}

std::int32_t OpenPort(const DriverCall &call) {
    if (call.state == nullptr) {
        return EM_REFUSED;
    }
    DriverState &state = *call.state;
    SerialHandle handle = 0;
    if (!PortNameFits(state.port.portName) || SerialOpen(state.port, handle) != SerialResult::kOk) {
        return EM_COMM_FAILURE;
    }
    StoreOpenedHandle(state, handle);
    state.enabled = 1;
    return EM_OK;
}

std::int32_t ReopenPort(const DriverCall &call) {
    const auto *params = static_cast<const ReopenPortParameters *>(call.parameters);
    if (call.state == nullptr || params == nullptr) {
        return EM_REFUSED;
    }
    if (!PortNameFits(params->portName)) {
        return EM_COMM_FAILURE;
    }
    DriverState &state = *call.state;
    if (params->replyTimeout != 0) {
        state.replyTimeout = params->replyTimeout;
    }
    const bool newName =
        std::strncmp(params->portName, state.port.portName, sizeof params->portName) != 0;
    if (newName && state.portHandle != 0) {
        ClosePort(call);
    }
    std::memcpy(state.port.portName, params->portName, sizeof state.port.portName);
    state.port.line = params->line;

    SerialHandle handle = 0;
    if (SerialOpen(state.port, handle) != SerialResult::kOk) {
        return EM_COMM_FAILURE;
    }
    StoreOpenedHandle(state, handle);
    return EM_OK;
}
