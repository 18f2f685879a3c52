// Serial backend for Linux (termios): a port behaves as the rest of the driver expects of a
// COM port opened for exclusive, synchronous use with a total read timeout.
//
// Port names: "NUL" (exactly) is the null device, opened with no line set-up; a name that
// starts with "/" is a path; any other name is a device under /dev/ (ttyUSB0, ttyS0, pts/3).
// The handle is the file descriptor, always above 2, so a handle is never 0.
//
// Every port this library opens has a slot in the table of held ports (held_ports.h): its read
// timeout, and the device and inode it was opened on, so a descriptor number that the process
// has since reused for something else is not taken for the port. Every operation acts only on a
// port it holds: a handle that is not one (a state record the host did not zero, a descriptor
// closed behind the driver's back) fails as a failed read or write does, and the host's own
// descriptors are never read, written or drained. A read waits for its bytes with poll on the time
// left, never with the inter-byte VTIME, so the line is put in raw mode with VMIN 0 and VTIME 0.
//
// Line settings: standard baud rates only; data bits 5 to 8; stop bits code 0 one, 2 two
// (6 to 8 data bits), 1 one and a half (5 data bits only: CSTOPB makes a UART send 1.5 stop
// bits with 5 data bits); the other combinations are refused as Windows refuses them. Parity
// checking (INPCK) is always on: a byte received with a parity error reads as NUL. Mark and
// space parity (CMSPAR) are refused where the kernel drops them.
// DTR and RTS: held on or off through the modem-control ioctls; RTS handshake is CRTSCTS;
// DTR handshake raises DTR (Linux has no DTR/DSR flow control); RTS toggle is the RS-485
// mode of the driver (RTS on while sending) and leaves RTS off where the driver has none.
// A device without modem lines or RS-485 mode (a pseudo-terminal) is not an error.
#include "interface/em_port_rules.h"
#include "serial/held_ports.h"
#include "serial/line_trace.h"
#include "serial/serial.h"
#include "serial/trace_grammar.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstring>
#include <ctime>
#include <iterator>

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int kNoFd = -1;
constexpr std::int64_t kNsPerMs = 1000000;
constexpr std::uint32_t kMaxReadRequest = 0xFFFF; // one read request is a 16-bit count
constexpr std::int32_t kNoTimeouts = -1;          // the null device has no timeouts to set

// ---- The open ports ----

int FdOf(SerialHandle handle) {
    const bool valid = handle > STDERR_FILENO && handle <= static_cast<SerialHandle>(INT_MAX);
    return valid ? static_cast<int>(handle) : kNoFd;
}

// Holds a freshly opened descriptor and records what it was opened on.
bool HoldPort(int fd, std::int32_t timeoutMs) {
    struct stat opened {};
    if (fstat(fd, &opened) != 0) {
        return false;
    }
    HeldPort *port = ClaimHeldPort(static_cast<SerialHandle>(fd));
    if (port == nullptr) {
        return false;
    }
    port->device.store(opened.st_dev);
    port->inode.store(opened.st_ino);
    port->readTimeoutMs.store(timeoutMs);
    return true;
}

// A port without timeouts (the null device) returns at once with what has arrived.
std::int32_t ReadTimeoutMs(SerialHandle handle) {
    const HeldPort *port = FindHeldPort(handle);
    return port == nullptr ? 0 : std::max(port->readTimeoutMs.load(), std::int32_t{0});
}

// The slot of a port this library opened and still holds: the descriptor is open and is
// still the device it opened. nullptr for any other handle.
HeldPort *HeldSlot(SerialHandle handle) {
    const int fd = FdOf(handle);
    HeldPort *port = fd == kNoFd ? nullptr : FindHeldPort(handle);
    struct stat now {};
    const bool held = port != nullptr && fstat(fd, &now) == 0 &&
                      port->device.load() == now.st_dev && port->inode.load() == now.st_ino;
    return held ? port : nullptr;
}

// ---- Reading with a total timeout ----

std::int64_t MonotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t{now.tv_sec} * 1000 * kNsPerMs + now.tv_nsec;
}

// Waits until the line is readable or the deadline passes: 1 readable (or hung up),
// 0 deadline passed, -1 poll failed. The time left is rounded up to whole milliseconds,
// so the wait never ends early.
int WaitReadable(int fd, std::int64_t deadline) {
    for (;;) {
        const std::int64_t left = deadline - MonotonicNs();
        if (left <= 0) {
            return 0;
        }
        pollfd line{fd, POLLIN, 0};
        const int ready = poll(&line, 1, static_cast<int>((left + kNsPerMs - 1) / kNsPerMs));
        if (ready >= 0 || errno != EINTR) {
            return ready < 0 ? -1 : (ready > 0 ? 1 : 0);
        }
    }
}

// One read as a port with a total read timeout performs it: waits until count bytes have
// arrived or timeoutMs has passed, and delivers what has arrived; -1 when reading fails.
// A line that polls readable yet delivers nothing is at its end (hung up, or the null
// device): the read ends there rather than spin until the deadline.
ssize_t ReadWithin(int fd, unsigned char *buffer, std::size_t count, std::int32_t timeoutMs) {
    const std::int64_t deadline = MonotonicNs() + timeoutMs * kNsPerMs;
    std::size_t total = 0;
    bool polledReadable = false;
    while (total < count) {
        const ssize_t got = read(fd, buffer + total, count - total);
        if (got > 0) {
            total += static_cast<std::size_t>(got);
            polledReadable = false;
            continue;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if ((got < 0 && errno != EAGAIN) || polledReadable) {
            return got < 0 ? -1 : static_cast<ssize_t>(total);
        }
        const int wait = WaitReadable(fd, deadline);
        if (wait <= 0) {
            return wait < 0 ? -1 : static_cast<ssize_t>(total);
        }
        polledReadable = true;
    }
    return static_cast<ssize_t>(total);
}

// ---- Opening ----

// The device folder and a name of at most 11 characters with its NUL; the null device's path.
using DevicePath = char[kDeviceFolder.size() + sizeof(PortSettings::portName)];
static_assert(sizeof(DevicePath) > kNullDevicePath.size());

void MakeDevicePath(const char (&name)[12], DevicePath &path) {
    if (kNullDeviceName == name) {
        std::memcpy(path, kNullDevicePath.data(), kNullDevicePath.size());
        path[kNullDevicePath.size()] = '\0';
        return;
    }
    const std::string_view prefix = name[0] == '/' ? std::string_view("") : kDeviceFolder;
    std::memcpy(path, prefix.data(), prefix.size());
    std::memcpy(path + prefix.size(), name, std::strlen(name) + 1);
}

int MoveAboveStdio(int fd) {
    if (fd > STDERR_FILENO) {
        return fd;
    }
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    close(fd);
    return moved < 0 ? kNoFd : moved;
}

// A lock keeps out other openers; TIOCEXCL also keeps out those that do not lock. A device
// that is not a terminal knows no TIOCEXCL.
bool TakeExclusiveUse(int fd) {
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        return false;
    }
    return ioctl(fd, TIOCEXCL) == 0 || errno == EINVAL || errno == ENOTTY;
}

bool ClearNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

// Opens without becoming the controlling terminal and without waiting for carrier.
int OpenDevice(const char *path, bool exclusive) {
    const int opened = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (opened < 0) {
        return kNoFd;
    }
    const int fd = MoveAboveStdio(opened);
    if (fd == kNoFd) {
        return kNoFd;
    }
    if ((exclusive && !TakeExclusiveUse(fd)) || !ClearNonBlocking(fd)) {
        close(fd);
        return kNoFd;
    }
    return fd;
}

// ---- Line settings ----

struct BaudCode {
    std::uint16_t rate;
    speed_t code;
};

constexpr BaudCode kBaudCodes[] = {
    {50, B50},     {75, B75},       {110, B110},     {134, B134},    {150, B150},   {200, B200},
    {300, B300},   {600, B600},     {1200, B1200},   {1800, B1800},  {2400, B2400}, {4800, B4800},
    {9600, B9600}, {19200, B19200}, {38400, B38400}, {57600, B57600}};

constexpr tcflag_t kSizeFlags[] = {CS5, CS6, CS7, CS8}; // by data bits 5..8
constexpr tcflag_t kParityFlags[] = {
    0,                        // none
    PARENB | PARODD,          // odd
    PARENB,                   // even
    PARENB | CMSPAR | PARODD, // mark
    PARENB | CMSPAR,          // space
};

constexpr bool RatesAreTheStandardOnes() {
    if (std::size(kBaudCodes) != kStandardBaudRates.size()) {
        return false;
    }
    for (std::size_t i = 0; i < kStandardBaudRates.size(); ++i) {
        if (kBaudCodes[i].rate != kStandardBaudRates[i]) {
            return false;
        }
    }
    return true;
}
static_assert(RatesAreTheStandardOnes(), "a termios code for each standard rate");

bool SetSpeed(termios &line, std::uint16_t rate) {
    for (const BaudCode &baud : kBaudCodes) {
        if (baud.rate == rate) {
            return cfsetispeed(&line, baud.code) == 0 && cfsetospeed(&line, baud.code) == 0;
        }
    }
    return false;
}

bool StopBitsFit(unsigned stopBits, unsigned dataBits) {
    switch (stopBits) {
    case kOneStopBit:
        return true;
    case kOneAndHalfStopBits:
        return dataBits == kOneAndHalfStopBitsDataBits;
    case kTwoStopBits:
        return dataBits != kOneAndHalfStopBitsDataBits;
    default:
        return false;
    }
}

// Data bits, stop bits and parity; only the low byte of each code counts.
bool SetFraming(termios &line, const LineSettings &settings) {
    const unsigned dataBits = settings.dataBits & 0xFFU;
    const unsigned stopBits = settings.stopBits & 0xFFU;
    const unsigned parity = settings.parity & 0xFFU;
    if (dataBits < 5 || dataBits > 8 || parity >= std::size(kParityFlags) ||
        !StopBitsFit(stopBits, dataBits)) {
        return false;
    }
    line.c_cflag &= ~(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR);
    line.c_cflag |= kSizeFlags[dataBits - 5] | kParityFlags[parity];
    if (stopBits != kOneStopBit) {
        line.c_cflag |= CSTOPB;
    }
    return true;
}

// Binary transfer: no translation, echo, signals or XON/XOFF; modem status ignored; reads
// return at once with what is there, the timeout being kept by ReadWithin.
void MakeRaw(termios &line) {
    line.c_iflag &= ~(IGNBRK | BRKINT | IGNPAR | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                      IXOFF | IXANY);
    line.c_iflag |= INPCK;
    line.c_oflag &= ~OPOST;
    line.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    line.c_cflag &= ~CRTSCTS;
    line.c_cflag |= CREAD | CLOCAL;
    line.c_cc[VMIN] = 0;
    line.c_cc[VTIME] = 0;
}

// tcsetattr succeeds when any part of the settings was taken. Mark and space parity can be
// dropped silently (a 32-bit process on a 64-bit kernel cannot set CMSPAR): a line that
// would send the wrong parity is refused instead.
bool KeptMarkSpace(int fd, const termios &asked) {
    termios applied{};
    return tcgetattr(fd, &applied) == 0 && (applied.c_cflag & CMSPAR) == (asked.c_cflag & CMSPAR);
}

enum class DtrControl { kOff, kOn, kHandshake };
enum class RtsControl { kOff, kOn, kHandshake, kToggle };

DtrControl DtrFromFlags(std::uint16_t flags) {
    if ((flags & EM_OPEN_DTR_ON) != 0) {
        return DtrControl::kOn;
    }
    return (flags & EM_OPEN_DTR_HANDSHAKE) != 0 ? DtrControl::kHandshake : DtrControl::kOff;
}

RtsControl RtsFromFlags(std::uint16_t flags) {
    if ((flags & EM_OPEN_RTS_ON) != 0) {
        return RtsControl::kOn;
    }
    if ((flags & EM_OPEN_RTS_HANDSHAKE) != 0) {
        return RtsControl::kHandshake;
    }
    return (flags & EM_OPEN_RTS_TOGGLE) != 0 ? RtsControl::kToggle : RtsControl::kOff;
}

// Pseudo-terminals answer modem-control ioctls with ENOTTY or EINVAL; a 32-bit process on a
// 64-bit kernel gets ENOSYS for the RS-485 ioctls of a device that has no RS-485 mode.
bool DeviceLacksFeature(int error) {
    return error == ENOTTY || error == EINVAL || error == ENOSYS;
}

bool ChangeModemLines(int fd, unsigned long request, int lines) {
    return lines == 0 || ioctl(fd, request, &lines) == 0 || DeviceLacksFeature(errno);
}

// A handshake starts with its line raised; the kernel (CRTSCTS) or the RS-485 mode then
// drives the line it owns.
bool SetModemLines(int fd, DtrControl dtr, RtsControl rts) {
    const bool dtrOn = dtr != DtrControl::kOff;
    const bool rtsOn = rts == RtsControl::kOn || rts == RtsControl::kHandshake;
    const int raise = (dtrOn ? TIOCM_DTR : 0) | (rtsOn ? TIOCM_RTS : 0);
    const int lower = (dtrOn ? 0 : TIOCM_DTR) | (rtsOn ? 0 : TIOCM_RTS);
    return ChangeModemLines(fd, TIOCMBIS, raise) && ChangeModemLines(fd, TIOCMBIC, lower);
}

// RTS toggle is the RS-485 mode: RTS on while sending, off after. Any other RTS control
// turns an RS-485 mode left by an earlier user off.
bool SetRtsToggle(int fd, bool toggle) {
    serial_rs485 rs485{};
    if (ioctl(fd, TIOCGRS485, &rs485) != 0) {
        return DeviceLacksFeature(errno);
    }
    if (!toggle && (rs485.flags & SER_RS485_ENABLED) == 0) {
        return true;
    }
    if (toggle) {
        rs485.flags |= SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
        rs485.flags &= ~SER_RS485_RTS_AFTER_SEND;
    } else {
        rs485.flags &= ~SER_RS485_ENABLED;
    }
    return ioctl(fd, TIOCSRS485, &rs485) == 0 || DeviceLacksFeature(errno);
}

SerialResult ApplyLineSettings(int fd, termios line, const PortSettings &settings) {
    const DtrControl dtr = DtrFromFlags(settings.openFlags);
    const RtsControl rts = RtsFromFlags(settings.openFlags);
    if (!SetFraming(line, settings.line) || !SetSpeed(line, settings.line.baudRate)) {
        return SerialResult::kStateRejected;
    }
    MakeRaw(line);
    if (rts == RtsControl::kHandshake) {
        line.c_cflag |= CRTSCTS;
    }
    const bool applied = tcsetattr(fd, TCSANOW, &line) == 0 && KeptMarkSpace(fd, line) &&
                         SetModemLines(fd, dtr, rts) &&
                         SetRtsToggle(fd, rts == RtsControl::kToggle);
    return applied ? SerialResult::kOk : SerialResult::kStateRejected;
}

// Reads the line state and applies the settings. The kernel sizes a terminal's queues
// itself, so there are no queue sizes to ask for.
SerialResult SetUpLine(int fd, const PortSettings &settings) {
    termios line{};
    if (tcgetattr(fd, &line) != 0) {
        return SerialResult::kStateUnreadable;
    }
    return ApplyLineSettings(fd, line, settings);
}

// Reads 512 bytes at a time with a 50 ms timeout until a read comes up short, which also
// swallows bytes still arriving; then puts the previous timeout back.
SerialResult Drain(SerialHandle handle) {
    const int fd = FdOf(handle);
    const std::int32_t previous = SerialSetReadTimeout(handle, kDrainTimeout);
    unsigned char scratch[kDrainChunk];
    ssize_t got = 0;
    do {
        got = ReadWithin(fd, scratch, sizeof scratch, ReadTimeoutMs(handle));
        if (got > 0) {
            TracePurged(handle, scratch, static_cast<std::uint32_t>(got));
        }
    } while (got == static_cast<ssize_t>(sizeof scratch));
    TraceFlush(handle);
    if (previous != 0) {
        SerialSetReadTimeout(handle, previous);
    }
    return got < 0 ? SerialResult::kDrainFailed : SerialResult::kOk;
}

} // namespace

SerialResult SerialOpen(const PortSettings &settings, SerialHandle &handle) {
    handle = 0;
    if (!PortNameFits(settings.portName)) {
        return SerialResult::kOpenFailed;
    }
    const bool nullDevice = kNullDeviceName == settings.portName;
    DevicePath path{};
    MakeDevicePath(settings.portName, path);
    const int fd = OpenDevice(path, !nullDevice);
    if (fd == kNoFd) {
        return SerialResult::kOpenFailed;
    }
    SerialResult result = nullDevice ? SerialResult::kOk : SetUpLine(fd, settings);
    if (result == SerialResult::kOk &&
        !HoldPort(fd, nullDevice ? kNoTimeouts : kFreshPortTimeoutMs)) {
        result = SerialResult::kOpenFailed;
    }
    if (result != SerialResult::kOk) {
        close(fd);
        return result;
    }
    handle = static_cast<SerialHandle>(fd);
    TraceOpen(handle, settings);
    return SerialResult::kOk;
}

// Linux releases the descriptor whatever close reports: an interrupted close counts as done,
// and after any other failure the port is no longer held either.
SerialResult SerialClose(SerialHandle handle) {
    TraceClose(handle);
    const int fd = FdOf(handle);
    ReleaseHeldPort(handle);
    return close(fd) == 0 || errno == EINTR ? SerialResult::kOk : SerialResult::kIoFailed;
}

bool SerialHolds(SerialHandle handle) {
    return HeldSlot(handle) != nullptr;
}

std::int32_t SerialSetReadTimeout(SerialHandle handle, std::int32_t timeout) {
    HeldPort *port = HeldSlot(handle);
    if (port == nullptr || port->readTimeoutMs.load() == kNoTimeouts) {
        return 0;
    }
    const std::int32_t units = std::clamp(timeout, std::int32_t{0}, kMaxTimeoutUnits);
    return port->readTimeoutMs.exchange(units * 10) / 10;
}

SerialResult SerialPurge(SerialHandle handle) {
    if (!SerialHolds(handle)) {
        return SerialResult::kDrainFailed;
    }
    TraceFlush(handle);
    int waiting = 0;
    if (ioctl(FdOf(handle), FIONREAD, &waiting) == 0 && waiting <= 0) {
        return SerialResult::kOk;
    }
    return Drain(handle);
}

SerialResult SerialBreak(std::uint32_t ms, SerialHandle handle) {
    if (!SerialHolds(handle)) {
        return SerialResult::kOk;
    }
    const int fd = FdOf(handle);
    ioctl(fd, TIOCSBRK);
    SerialPause(ms);
    ioctl(fd, TIOCCBRK);
    return SerialResult::kOk;
}

SerialResult SerialWrite(SerialHandle handle, const void *bytes, std::uint32_t count,
                         std::uint32_t *written) {
    if ((bytes == nullptr && count > 0) || !SerialHolds(handle)) {
        return SerialResult::kIoFailed;
    }
    const int fd = FdOf(handle);
    const auto *data = static_cast<const unsigned char *>(bytes);
    std::uint32_t total = 0;
    while (total < count) {
        const ssize_t put = write(fd, data + total, count - total);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put < 0) {
            TraceSent(handle, data, total);
            TraceEvent(handle, kWriteFailedEvent);
            return SerialResult::kIoFailed;
        }
        if (put == 0) {
            break;
        }
        total += static_cast<std::uint32_t>(put);
    }
    TraceSent(handle, data, total);
    if (written != nullptr) {
        *written = total;
    }
    return total == count ? SerialResult::kOk : SerialResult::kShortWrite;
}

SerialResult SerialRead(SerialHandle handle, void *buffer, std::uint32_t count,
                        std::uint32_t *countRead) {
    if (countRead != nullptr) {
        *countRead = 0;
    }
    if ((buffer == nullptr && count > 0) || !SerialHolds(handle)) {
        return SerialResult::kIoFailed;
    }
    const int fd = FdOf(handle);
    const std::int32_t timeoutMs = ReadTimeoutMs(handle);
    auto *bytes = static_cast<unsigned char *>(buffer);
    std::uint32_t total = 0;
    while (total < count) {
        const std::uint32_t ask = std::min(count - total, kMaxReadRequest);
        const ssize_t got = ReadWithin(fd, bytes + total, ask, timeoutMs);
        if (got <= 0) {
            TraceEvent(handle, got == 0 ? kReadTimedOutEvent : kReadFailedEvent);
            return SerialResult::kIoFailed;
        }
        TraceReceived(handle, bytes + total, static_cast<std::uint32_t>(got));
        total += static_cast<std::uint32_t>(got);
        if (countRead != nullptr) {
            *countRead = total;
        }
    }
    return SerialResult::kOk;
}

SerialResult SerialPause(std::uint32_t ms) {
    timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
    return SerialResult::kOk;
}

std::uint32_t BytesQueued(SerialHandle handle) {
    int waiting = 0;
    if (!SerialHolds(handle) || ioctl(FdOf(handle), FIONREAD, &waiting) != 0 || waiting < 0) {
        return 0;
    }
    return static_cast<std::uint32_t>(waiting);
}

void SerialTraceEvent(SerialHandle handle, const char *event) {
    if (SerialHolds(handle)) {
        TraceEvent(handle, event);
    }
}
