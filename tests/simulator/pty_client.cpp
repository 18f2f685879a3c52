#include "pty_client.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <system_error>
#include <termios.h>
#include <unistd.h>

namespace sim_test {

PtyClient::PtyClient(const std::string &path)
    : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
    if (fd_ < 0)
        throw std::system_error(errno, std::generic_category(), "open " + path);
    termios attributes{};
    ::tcgetattr(fd_, &attributes);
    cfmakeraw(&attributes);
    cfsetspeed(&attributes, B9600);
    attributes.c_cflag |= CLOCAL | CREAD;
    ::tcsetattr(fd_, TCSANOW, &attributes);
    ::tcflush(fd_, TCIOFLUSH);
}

PtyClient::~PtyClient() {
    ::close(fd_);
}

void PtyClient::Send(std::string_view bytes) {
    if (::write(fd_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
        throw std::runtime_error("short write to the line");
}

std::string PtyClient::ReadUntil(char terminator, std::chrono::milliseconds timeout) {
    std::vector<std::chrono::steady_clock::time_point> arrivals;
    return ReadTimed(terminator, timeout, arrivals);
}

std::string PtyClient::ReadTimed(char terminator, std::chrono::milliseconds timeout,
                                 std::vector<std::chrono::steady_clock::time_point> &arrivals) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    std::string received;
    while (received.empty() || received.back() != terminator) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        pollfd watch{fd_, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&watch, 1, static_cast<int>(left.count())) <= 0)
            break;
        char byte = 0;
        if (::read(fd_, &byte, 1) != 1)
            break;
        arrivals.push_back(std::chrono::steady_clock::now());
        received += byte;
    }
    return received;
}

std::string PtyClient::ReadFor(std::chrono::milliseconds window) {
    const auto end = std::chrono::steady_clock::now() + window;
    std::string received;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        pollfd watch{fd_, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&watch, 1, static_cast<int>(left.count())) <= 0)
            return received;
        char buffer[256];
        const ssize_t count = ::read(fd_, buffer, sizeof buffer);
        if (count <= 0)
            return received;
        received.append(buffer, static_cast<std::size_t>(count));
    }
}

bool PtyClient::SeesHangUp(std::chrono::milliseconds timeout) {
    pollfd watch{fd_, POLLIN, 0};
    if (::poll(&watch, 1, static_cast<int>(timeout.count())) <= 0)
        return false;
    if (watch.revents & (POLLHUP | POLLERR))
        return true;
    char byte = 0;
    const ssize_t count = ::read(fd_, &byte, 1);
    return count == 0 || (count < 0 && errno == EIO);
}

} // namespace sim_test
