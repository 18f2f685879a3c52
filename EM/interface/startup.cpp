// ColdStart, WarmStart and the adapter dialogue that both run.
#include "interface/startup.h"
#include "interface/handlers.h"
#include "interface/log.h"
#include "serial/exchange.h"
#include "serial/serial.h"

#include <cstring>

namespace {

constexpr std::int32_t kMinimumReplyTimeout = 100;    // units of 10 ms
constexpr std::int32_t kDialogueTimeout = 200;        // units of 10 ms
constexpr std::uint32_t kAfterResetWaitMs = 30000;    // the adapter restarts after "SI"
constexpr std::uint16_t kColdStartOpenFlags = 0x0200; // RTS held on, DTR off

// Runs one adapter step: the exchange, then the check of its reply text alone.
ReplyCheck AdapterStep(const DriverCall &call, const char *request, std::uint8_t terminator,
                       char (&reply)[kReplyBufferSize]) {
    call.state->replyTerminator = terminator;
    Exchange(call, request, reply);
    call.state->replyTerminator = kEtx;
    return CheckReply(reply);
}

// The first four steps fail the dialogue as a whole; the last one's check is its result.
std::int32_t RunAdapterDialogue(const DriverCall &call) {
    char reply[kReplyBufferSize] = {};
    if (AdapterStep(call, "S?\r", kEtx, reply) != ReplyCheck::kGood) {
        return EM_ADAPTER_FAILED;
    }
    if (std::strstr(reply, "***") == nullptr) {
        if (AdapterStep(call, "SI\r", kEtx, reply) != ReplyCheck::kGood) {
            return EM_ADAPTER_FAILED;
        }
        SerialPause(kAfterResetWaitMs);
    }
    if (AdapterStep(call, "DF\r", kEtx, reply) != ReplyCheck::kGood) {
        return EM_ADAPTER_FAILED;
    }
    if (AdapterStep(call, "DLSV%X\r", kLineFeed, reply) != ReplyCheck::kGood) {
        return EM_ADAPTER_FAILED;
    }
    return HostResult(AdapterStep(call, "DMVX\r", kLineFeed, reply));
}

// Copies a port name for a log line without reading past its 12-byte field.
struct PrintableName {
    char text[12];
    explicit PrintableName(const char (&name)[12]) {
        std::memcpy(text, name, sizeof text - 1);
        text[sizeof text - 1] = '\0';
    }
};

} // namespace

std::int32_t StoredReplyTimeout(const DriverState &state) {
    return state.replyTimeout > 0 ? state.replyTimeout : kMinimumReplyTimeout;
}

void StoreOpenedHandle(DriverState &state, SerialHandle handle) {
    const SerialHandle previous = state.portHandle;
    if (previous != 0 && previous != handle && SerialHolds(previous)) {
        SerialClose(previous);
    }
    state.portHandle = handle;
}

std::int32_t ConfigureAdapter(const DriverCall &call) {
    DriverState &state = *call.state;
    SerialSetReadTimeout(state.portHandle, kDialogueTimeout);
    const std::int32_t result = RunAdapterDialogue(call);
    SerialSetReadTimeout(state.portHandle, StoredReplyTimeout(state));
    state.adapterReady = result == EM_OK ? 1 : 0;
    if (result != EM_OK) {
        err(kLogOutcome, "ZEL%02d: EM: ConfigureAdapter(): fail rc = %d", call.driverNumber,
            result);
    }
    return result;
}

std::int32_t ColdStart(const DriverCall &call) {
    const auto *params = static_cast<const ColdStartParameters *>(call.parameters);
    if (call.state == nullptr || params == nullptr) {
        return EM_REFUSED;
    }
    DriverState &state = *call.state;
    state.replyTerminator = kEtx;
    state.enabled = params->enabled;
    if (params->enabled == 0) {
        return EM_OK;
    }

    PortSettings settings{};
    std::memcpy(settings.portName, params->portName, sizeof settings.portName);
    settings.line = params->line;
    settings.openFlags = kColdStartOpenFlags;
    SerialHandle handle = 0;
    if (!PortNameFits(params->portName) || SerialOpen(settings, handle) != SerialResult::kOk) {
        err(kLogOutcome, "ZEL%02d: EM: ColdStart(): Fail to open %s", call.driverNumber,
            PrintableName(params->portName).text);
        return EM_COMM_FAILURE;
    }
    StoreOpenedHandle(state, handle);
    SerialSetReadTimeout(handle, params->replyTimeout);
    state.port = settings;
    state.replyTimeout =
        params->replyTimeout < kMinimumReplyTimeout ? kMinimumReplyTimeout : params->replyTimeout;
    state.reserved = 0;

    const std::int32_t rc = ConfigureAdapter(call);
    if (rc == EM_OK) {
        err(kLogOutcome, "ZEL%02d: EM: ColdStart(): EM-1 Driver loaded successfully",
            call.driverNumber);
    } else {
        err(kLogOutcome, "ZEL%02d: EM: ColdStart(): Fail rc = %d ", call.driverNumber, rc);
    }
    return EM_OK;
}

std::int32_t WarmStart(const DriverCall &call) {
    if (call.state == nullptr) {
        return EM_REFUSED;
    }
    std::int32_t rc = EM_OK;
    if (call.state->portHandle != 0) {
        SerialPurge(call.state->portHandle);
        rc = ConfigureAdapter(call);
    }
    if (rc == EM_OK) {
        err(kLogOutcome, "ZEL%02d: EM: WarmStart(): ended successfully rc = %d", call.driverNumber,
            rc);
    } else {
        err(kLogOutcome, "ZEL%02d: EM: WarmStart(): Fail rc = %d ", call.driverNumber, rc);
    }
    return rc;
}
