// The reason a port cannot be opened, on POSIX: the driver takes a name without "/" as a
// device under /dev/ and opens it for exclusive use with flock.
#include "em_port_rules.h"
#include "platform.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

std::string DevicePath(const std::string &name) {
    if (name == kNullDeviceName) {
        return std::string(kNullDevicePath);
    }
    return name.starts_with('/') ? name : std::string(kDeviceFolder) + name;
}

std::string KindOfFile(mode_t mode) {
    if (S_ISDIR(mode)) {
        return "a folder";
    }
    if (S_ISREG(mode)) {
        return "a regular file";
    }
    if (S_ISSOCK(mode)) {
        return "a socket";
    }
    if (S_ISFIFO(mode)) {
        return "a pipe";
    }
    return "not a character device";
}

std::string GroupHint(gid_t group) {
    const struct group *entry = getgrgid(group);
    if (entry == nullptr || group == 0) {
        return "";
    }
    return "; its group is '" + std::string(entry->gr_name) + "', which you could join";
}

std::string MissingDevice(const std::string &path) {
    struct stat link {};
    if (lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        return "no such device: the link " + path + " points to nothing";
    }
    return "no such device: " + path + " does not exist";
}

std::string OpenFailure(const std::string &path, int error, const struct stat &status) {
    switch (error) {
    case EACCES:
    case EPERM:
        return "permission denied: you may not read and write " + path + GroupHint(status.st_gid);
    case EBUSY:
        return "in use by another program: " + path + " is held for exclusive use";
    case ENXIO:
    case ENODEV:
        return "no such device: " + path + " exists, but no device answers behind it";
    default:
        return path + ": " + std::strerror(error);
    }
}

std::string LineSettingsRefusal(const LineSettings &line) {
    if (std::find(kStandardBaudRates.begin(), kStandardBaudRates.end(), line.baudRate) ==
        kStandardBaudRates.end()) {
        return "the port takes standard baud rates only (50 to 57600, e.g. 9600 or 19200), not " +
               std::to_string(line.baudRate);
    }
    if (line.stopBits == kOneAndHalfStopBits && line.dataBits != kOneAndHalfStopBitsDataBits) {
        return "one and a half stop bits need 5 data bits";
    }
    if (line.stopBits == kTwoStopBits && line.dataBits == kOneAndHalfStopBitsDataBits) {
        return "two stop bits need 6 to 8 data bits";
    }
    return "";
}

// Opens the device as the driver does, and says what stood in the way.
std::string TryDevice(const std::string &path, const struct stat &status) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return OpenFailure(path, errno, status);
    }
    std::string reason;
    termios settings{};
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        reason = "in use by another program: " + path + " is locked";
    } else if (tcgetattr(fd, &settings) != 0) {
        reason = "not a serial device: " + path + " has no line settings";
    }
    close(fd);
    return reason;
}

} // namespace

std::string DiagnosePortOpen(const std::string &name, const LineSettings &line) {
    const std::string path = DevicePath(name);
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        return errno == ENOENT || errno == ENOTDIR ? MissingDevice(path)
                                                   : OpenFailure(path, errno, status);
    }
    if (!S_ISCHR(status.st_mode)) {
        return "not a serial device: " + path + " is " + KindOfFile(status.st_mode);
    }
    if (std::string reason = TryDevice(path, status); !reason.empty()) {
        return reason;
    }
    if (name == kNullDeviceName) {
        return "the null device did not open";
    }
    if (std::string refusal = LineSettingsRefusal(line); !refusal.empty()) {
        return "line settings refused: " + refusal;
    }
    return path + " opens now; it may have been in use for a moment";
}
