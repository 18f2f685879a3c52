// Win32 serial backend: the serial operations over KERNEL32's communications API.
// Every call is synchronous (no overlapped I/O); the port object holds the timeouts.
// The table of held ports (held_ports.h) keeps the handles this library has opened and not
// closed, so the driver never closes a handle that is not its own, and never reads, writes,
// purges or changes one: an operation on any other handle fails as a failed read or write
// does.
#include "serial/held_ports.h"
#include "serial/line_trace.h"
#include "serial/serial.h"
#include "serial/trace_grammar.h"

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace {

constexpr DWORD kDcbLength = 28;
constexpr char kErrorChar = static_cast<char>(0xFC);

HANDLE ToHandle(SerialHandle handle) {
    return reinterpret_cast<HANDLE>(handle);
}

bool StillOpen(SerialHandle handle) {
    DWORD flags = 0;
    return GetHandleInformation(ToHandle(handle), &flags) != FALSE;
}

DWORD DtrControlFor(std::uint16_t flags) {
    if ((flags & EM_OPEN_DTR_ON) != 0) {
        return DTR_CONTROL_ENABLE;
    }
    if ((flags & EM_OPEN_DTR_HANDSHAKE) != 0) {
        return DTR_CONTROL_HANDSHAKE;
    }
    return DTR_CONTROL_DISABLE;
}

DWORD RtsControlFor(std::uint16_t flags) {
    if ((flags & EM_OPEN_RTS_ON) != 0) {
        return RTS_CONTROL_ENABLE;
    }
    if ((flags & EM_OPEN_RTS_HANDSHAKE) != 0) {
        return RTS_CONTROL_HANDSHAKE;
    }
    if ((flags & EM_OPEN_RTS_TOGGLE) != 0) {
        return RTS_CONTROL_TOGGLE;
    }
    return RTS_CONTROL_DISABLE;
}

// Changes the line settings the platform reported; members not named keep their values.
void ApplyLineSettings(DCB &dcb, const LineSettings &line, std::uint16_t flags) {
    dcb.BaudRate = line.baudRate;
    dcb.fBinary = TRUE;
    dcb.fParity = TRUE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DtrControlFor(flags);
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RtsControlFor(flags);
    dcb.fAbortOnError = FALSE;
    dcb.ByteSize = static_cast<BYTE>(line.dataBits & 0xFF);
    dcb.StopBits = static_cast<BYTE>(line.stopBits & 0xFF);
    dcb.Parity = static_cast<BYTE>(line.parity & 0xFF);
    dcb.ErrorChar = kErrorChar;
}

SerialResult FailAfterOpen(HANDLE port, SerialResult result) {
    CloseHandle(port);
    return result;
}

// Reads the line state, gives the port its first read timeout and applies the line settings.
SerialResult SetUpLine(HANDLE port, const PortSettings &settings) {
    DCB dcb{};
    dcb.DCBlength = kDcbLength;
    if (!GetCommState(port, &dcb)) {
        return SerialResult::kStateUnreadable;
    }
    COMMTIMEOUTS timeouts{};
    timeouts.ReadTotalTimeoutConstant = kFreshPortTimeoutMs;
    if (!SetCommTimeouts(port, &timeouts)) {
        return SerialResult::kOpenFailed;
    }
    ApplyLineSettings(dcb, settings.line, settings.openFlags);
    if (!SetCommState(port, &dcb)) {
        return SerialResult::kStateRejected;
    }
    SetupComm(port, kQueueSize, kQueueSize);
    return SerialResult::kOk;
}

// A read timeout of 0 ms returns at once with what has arrived: an interval timeout of
// MAXDWORD with no total timeout, since all zeros would mean "wait forever".
void SetReadWait(COMMTIMEOUTS &timeouts, DWORD ms) {
    timeouts.ReadIntervalTimeout = ms == 0 ? MAXDWORD : 0;
    timeouts.ReadTotalTimeoutConstant = ms;
}

} // namespace

// The caller's handle is 0 on every failure: it receives the port only once the port is
// set up and held.
SerialResult SerialOpen(const PortSettings &settings, SerialHandle &handle) {
    handle = 0;
    if (!PortNameFits(settings.portName)) {
        return SerialResult::kOpenFailed;
    }
    HANDLE port = CreateFileA(settings.portName, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        return SerialResult::kOpenFailed;
    }
    const bool nullDevice = std::strcmp(settings.portName, "NUL") == 0;
    const SerialResult result = nullDevice ? SerialResult::kOk : SetUpLine(port, settings);
    if (result != SerialResult::kOk) {
        return FailAfterOpen(port, result);
    }
    const auto opened = reinterpret_cast<SerialHandle>(port);
    if (ClaimHeldPort(opened) == nullptr) {
        return FailAfterOpen(port, SerialResult::kOpenFailed);
    }
    handle = opened;
    TraceOpen(handle, settings);
    return SerialResult::kOk;
}

// The port leaves the table before its handle is closed: once closed, the process may hand
// the same number at once to a port that another thread opens, whose place must stay. A
// handle that survives a failed close (one protected from closing) is held again.
SerialResult SerialClose(SerialHandle handle) {
    TraceClose(handle);
    ReleaseHeldPort(handle);
    if (CloseHandle(ToHandle(handle)) != FALSE) {
        return SerialResult::kOk;
    }
    if (StillOpen(handle)) {
        ClaimHeldPort(handle);
    }
    return SerialResult::kIoFailed;
}

bool SerialHolds(SerialHandle handle) {
    return FindHeldPort(handle) != nullptr && StillOpen(handle);
}

std::int32_t SerialSetReadTimeout(SerialHandle handle, std::int32_t timeout) {
    COMMTIMEOUTS timeouts{};
    if (!SerialHolds(handle) || !GetCommTimeouts(ToHandle(handle), &timeouts)) {
        return 0;
    }
    const DWORD previous = timeouts.ReadTotalTimeoutConstant;
    const DWORD wanted = static_cast<DWORD>(std::clamp(timeout, 0, kMaxTimeoutUnits)) * 10;
    COMMTIMEOUTS changed = timeouts;
    SetReadWait(changed, wanted);
    if (changed.ReadTotalTimeoutConstant != timeouts.ReadTotalTimeoutConstant ||
        changed.ReadIntervalTimeout != timeouts.ReadIntervalTimeout) {
        if (!SetCommTimeouts(ToHandle(handle), &changed)) {
            return 0;
        }
    }
    return static_cast<std::int32_t>(previous / 10);
}

SerialResult SerialPurge(SerialHandle handle) {
    if (!SerialHolds(handle)) {
        return SerialResult::kDrainFailed;
    }
    TraceFlush(handle);
    DWORD errors = 0;
    COMSTAT status{};
    if (ClearCommError(ToHandle(handle), &errors, &status) && status.cbInQue == 0) {
        return SerialResult::kOk;
    }
    const std::int32_t previous = SerialSetReadTimeout(handle, kDrainTimeout);
    char scratch[kDrainChunk];
    BOOL readOk = FALSE;
    DWORD got = 0;
    do {
        got = 0;
        readOk = ReadFile(ToHandle(handle), scratch, kDrainChunk, &got, nullptr);
        if (readOk && got > 0) {
            TracePurged(handle, scratch, got);
        }
    } while (readOk && got == kDrainChunk);
    TraceFlush(handle);
    if (previous != 0) {
        SerialSetReadTimeout(handle, previous);
    }
    return readOk ? SerialResult::kOk : SerialResult::kDrainFailed;
}

SerialResult SerialBreak(std::uint32_t ms, SerialHandle handle) {
    if (!SerialHolds(handle)) {
        return SerialResult::kOk;
    }
    SetCommBreak(ToHandle(handle));
    Sleep(ms);
    ClearCommBreak(ToHandle(handle));
    return SerialResult::kOk;
}

SerialResult SerialWrite(SerialHandle handle, const void *bytes, std::uint32_t count,
                         std::uint32_t *written) {
    DWORD done = 0;
    if ((bytes == nullptr && count > 0) || !SerialHolds(handle)) {
        return SerialResult::kIoFailed;
    }
    if (!WriteFile(ToHandle(handle), bytes, count, &done, nullptr)) {
        TraceEvent(handle, kWriteFailedEvent);
        return SerialResult::kIoFailed;
    }
    TraceSent(handle, bytes, done);
    if (written != nullptr) {
        *written = done;
    }
    return done == count ? SerialResult::kOk : SerialResult::kShortWrite;
}

SerialResult SerialRead(SerialHandle handle, void *buffer, std::uint32_t count,
                        std::uint32_t *read) {
    if (read != nullptr) {
        *read = 0;
    }
    if ((buffer == nullptr && count > 0) || !SerialHolds(handle)) {
        return SerialResult::kIoFailed;
    }
    auto *bytes = static_cast<char *>(buffer);
    std::uint32_t total = 0;
    while (total < count) {
        const DWORD request = std::min<std::uint32_t>(count - total, 0xFFFF);
        DWORD got = 0;
        if (!ReadFile(ToHandle(handle), bytes + total, request, &got, nullptr)) {
            TraceEvent(handle, kReadFailedEvent);
            return SerialResult::kIoFailed;
        }
        if (got == 0) {
            TraceEvent(handle, kReadTimedOutEvent);
            return SerialResult::kIoFailed;
        }
        TraceReceived(handle, bytes + total, got);
        total += got;
        if (read != nullptr) {
            *read = total;
        }
    }
    return SerialResult::kOk;
}

SerialResult SerialPause(std::uint32_t ms) {
    Sleep(ms);
    return SerialResult::kOk;
}

std::uint32_t BytesQueued(SerialHandle handle) {
    DWORD errors = 0;
    COMSTAT status{};
    if (!SerialHolds(handle) || !ClearCommError(ToHandle(handle), &errors, &status)) {
        return 0;
    }
    return status.cbInQue;
}

void SerialTraceEvent(SerialHandle handle, const char *event) {
    if (SerialHolds(handle)) {
        TraceEvent(handle, event);
    }
}
