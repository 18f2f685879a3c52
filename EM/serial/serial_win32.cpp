// Win32 serial backend (placeholder until the KERNEL32 backend lands).
#include "serial/serial.h"

int SerialOpen(const PortSettings &, SerialHandle &) {
    return kSerialOpenFailed;
}
int SerialClose(SerialHandle) {
    return kSerialIoFailed;
}
std::int32_t SerialSetReadTimeout(SerialHandle, std::int32_t) {
    return 0;
}
int SerialPurge(SerialHandle) {
    return 0;
}
int SerialBreak(std::uint32_t, SerialHandle) {
    return 0;
}
int SerialWrite(SerialHandle, const void *, std::uint32_t, std::uint32_t *) {
    return kSerialIoFailed;
}
int SerialRead(SerialHandle, void *, std::uint32_t, std::uint32_t *) {
    return kSerialIoFailed;
}
int SerialPause(std::uint32_t) {
    return 0;
}
std::uint32_t BytesQueued(SerialHandle) {
    return 0;
}
