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

void pause_ms(long ms) {
    timespec left{ms / 1000, (ms % 1000) * 1'000'000L};
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

[[noreturn]] void fail(const std::string &what) {
    throw std::system_error(errno, std::generic_category(), what);
}

} // namespace

BareLine::BareLine(const std::string &path)
    : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
    if (fd_ < 0)
        fail("open " + path);
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
        fail("line settings of " + path);
    }
}

BareLine::~BareLine() {
    ::close(fd_);
}

std::string BareLine::exchange(std::string_view request, char terminator) {
    discard_waiting();
    const bool sent =
        ::write(fd_, request.data(), request.size()) == static_cast<ssize_t>(request.size());
    pause_ms(kAfterRequestMs);
    std::string reply = sent ? read_reply(terminator) : std::string();
    pause_ms(kAfterReplyMs);
    discard_waiting();
    return reply;
}

std::string BareLine::ask(std::string_view request, char terminator) {
    discard_waiting();
    if (::write(fd_, request.data(), request.size()) != static_cast<ssize_t>(request.size()))
        return {};
    return read_reply(terminator);
}

void BareLine::discard_waiting() const {
    int waiting = 0;
    if (::ioctl(fd_, FIONREAD, &waiting) != 0 || waiting <= 0)
        return;
    char scratch[512];
    while (::read(fd_, scratch, sizeof scratch) > 0) {
    }
}

// The reserve makes the reply's room once, so no byte costs an allocation.
std::string BareLine::read_reply(char terminator) const {
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
