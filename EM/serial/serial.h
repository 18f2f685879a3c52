// Serial port access: the driver's one seam to the platform and to time.
//
// Every operation is a plain function implemented once per platform (serial_posix.cpp,
// serial_win32.cpp); tests link a scripted instrument on a virtual clock in their place.
// Every wait of the driver goes through SerialPause or through a port read timeout.
#pragma once

#include "interface/em_driver.h"

#include <cstdint>

// Result codes of this layer, its own: the layers above fold them into the host's codes.
enum class SerialResult {
    kOk = 0,
    kOpenFailed = 1,      // open or timeouts failed, or bad name
    kDrainFailed = 1,     // SerialPurge: the last read of the drain failed
    kShortWrite = 2,      // fewer bytes written than asked
    kStateUnreadable = 4, // line settings could not be read
    kStateRejected = 5,   // line settings could not be applied
    kIoFailed = 7,        // close, write or read failed (or timed out)
};

inline constexpr std::int32_t kFreshPortTimeoutMs = 1000;
inline constexpr std::uint32_t kQueueSize = 1200;
inline constexpr std::uint32_t kDrainChunk = 512;
inline constexpr std::int32_t kDrainTimeout = 5; // units of 10 ms
// Largest read timeout in units of 10 ms whose milliseconds still fit an int32.
inline constexpr std::int32_t kMaxTimeoutUnits = 0x7FFFFFFF / 10;

// Opens the port named in settings with its line settings and open flags. A name with
// no NUL in its 12 bytes is refused with kOpenFailed. On success handle is non-zero;
// on any failure it is 0, whatever it held before.
SerialResult SerialOpen(const PortSettings &settings, SerialHandle &handle);
SerialResult SerialClose(SerialHandle handle);
// True when handle is a port that this library opened, has not closed, and that is still
// open: the only handles the driver may close. A handle the host made up, or one closed
// behind the driver's back, is not held. Every other operation below acts only on a held
// port; on any other handle it touches nothing and fails as on a dead port: SerialWrite and
// SerialRead kIoFailed, SerialPurge kDrainFailed, SerialSetReadTimeout and BytesQueued 0,
// SerialBreak kOk.
bool SerialHolds(SerialHandle handle);
// Sets the total wait of one read to timeout x 10 ms (clamped to 0..kMaxTimeoutUnits; 0
// returns at once with what has arrived). Returns the previous timeout in units of 10 ms,
// or 0 when the timeouts could not be read or written.
std::int32_t SerialSetReadTimeout(SerialHandle handle, std::int32_t timeout);
// Clears the error state and discards waiting input, also bytes still arriving.
SerialResult SerialPurge(SerialHandle handle);
SerialResult SerialBreak(std::uint32_t ms, SerialHandle handle);
// A null buffer with a count above 0 fails with kIoFailed and moves no byte.
SerialResult SerialWrite(SerialHandle handle, const void *bytes, std::uint32_t count,
                         std::uint32_t *written);
SerialResult SerialRead(SerialHandle handle, void *buffer, std::uint32_t count,
                        std::uint32_t *read);
SerialResult SerialPause(std::uint32_t ms);
// Received bytes waiting in the input queue; 0 when the query fails.
std::uint32_t BytesQueued(SerialHandle handle);
// Notes an event of the exchange in the port's line trace, where the port has one; the
// bytes received before it form a line of their own.
void SerialTraceEvent(SerialHandle handle, const char *event);

// True when the 12-byte port name field holds its NUL, so it can be read as text.
inline bool PortNameFits(const char (&name)[12]) {
    for (const char c : name) {
        if (c == '\0') {
            return true;
        }
    }
    return false;
}
