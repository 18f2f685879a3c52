// The trace file on Linux: opened for appending with O_NOFOLLOW, made with mode 0600, and
// used only when it is a regular file of this user with no other name, so a trace never
// lands in a device, a pipe or someone else's file.
#include "serial/trace_file.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The descriptor is kept above standard input, output and error, which a host may have
// closed: the host's own output must never land in the trace.
int MoveAboveStdio(int fd) {
    if (fd > STDERR_FILENO) {
        return fd;
    }
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    close(fd);
    return moved;
}

bool IsOwnPlainFile(int fd) {
    struct stat status {};
    return fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_uid == geteuid() &&
           status.st_nlink == 1;
}

} // namespace

TraceFile OpenTraceFile() {
    const char *path = std::getenv("EM_TRACE");
    if (path == nullptr || path[0] == '\0') {
        return kNoTraceFile;
    }
    // O_NONBLOCK keeps a FIFO without a reader from holding the open; it is refused below.
    const int opened =
        open(path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC,
             S_IRUSR | S_IWUSR);
    if (opened < 0) {
        return kNoTraceFile;
    }
    const int fd = MoveAboveStdio(opened);
    if (fd < 0) {
        return kNoTraceFile;
    }
    if (!IsOwnPlainFile(fd)) {
        close(fd);
        return kNoTraceFile;
    }
    return fd;
}

void WriteTraceFile(TraceFile file, const char *text, std::size_t length) {
    const auto fd = static_cast<int>(file);
    while (length > 0) {
        const ssize_t put = write(fd, text, length);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return;
        }
        text += put;
        length -= static_cast<std::size_t>(put);
    }
}

void CloseTraceFile(TraceFile file) {
    if (file != kNoTraceFile) {
        close(static_cast<int>(file));
    }
}

std::int64_t TraceClockMs() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return std::int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000;
}
