#include "bare_line.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>

namespace bench {
namespace {

constexpr long kAfterRequestMs = 200;
constexpr long kAfterReplyMs = 50;
constexpr int kReadTimeoutMs = 1000;

void PauseMs(long ms) {
    timespec left{ms / 1000, (ms % 1000) * 1'000'000L};
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

[[noreturn]] void Fail(const std::string &what) {
    throw std::system_error(errno, std::generic_category(), what);
}

} // namespace

BareLine::BareLine(const std::string &path)
    : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
    if (fd_ < 0)
        Fail("open " + path);
    termios line{};
    const bool raw = ::tcgetattr(fd_, &line) == 0;
    cfmakeraw(&line);
    cfsetspeed(&line, B9600);
    line.c_cflag |= CLOCAL | CREAD;
    line.c_cc[VMIN] = 0;
    line.c_cc[VTIME] = 0;
    if (!raw || ::tcsetattr(fd_, TCSANOW, &line) != 0 || ::fcntl(fd_, F_SETFL, 0) != 0) {
        const int error = errno;
        ::close(fd_);
        errno = error;
        Fail("line settings of " + path);
    }
}

BareLine::~BareLine() {
    ::close(fd_);
}

std::string BareLine::Exchange(std::string_view request, char terminator) {
    DiscardWaiting();
    const bool sent =
        ::write(fd_, request.data(), request.size()) == static_cast<ssize_t>(request.size());
    PauseMs(kAfterRequestMs);
    std::string reply = sent ? ReadReply(terminator) : std::string();
    PauseMs(kAfterReplyMs);
    DiscardWaiting();
    return reply;
}

std::string BareLine::Ask(std::string_view request, char terminator) {
    DiscardWaiting();
    if (::write(fd_, request.data(), request.size()) != static_cast<ssize_t>(request.size()))
        return {};
    return ReadReply(terminator);
}

void BareLine::DiscardWaiting() const {
    int waiting = 0;
    if (::ioctl(fd_, FIONREAD, &waiting) != 0 || waiting <= 0)
        return;
    char scratch[512];
    while (::read(fd_, scratch, sizeof scratch) > 0) {
    }
}

// The reserve makes the reply's room once, so no byte costs an allocation.
std::string BareLine::ReadReply(char terminator) const {
    std::string reply;
    reply.reserve(kReplyLimit);
    while (reply.size() < kReplyLimit) {
        pollfd line{fd_, POLLIN, 0};
        char byte = 0;
        if (::poll(&line, 1, kReadTimeoutMs) <= 0 || ::read(fd_, &byte, 1) != 1)
            break;
        reply += byte;
        if (byte == terminator)
            break;
    }
    return reply;
}

} // namespace bench
