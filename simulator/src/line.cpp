#include "line.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace em1sim {
namespace {

[[noreturn]] void fail(const std::string &what) {
    throw std::system_error(errno, std::generic_category(), what);
}

} // namespace

Line Line::pseudo_terminal(std::string link) {
    return Line(std::move(link), std::nullopt, LineSettings{});
}

Line Line::device(std::string path, LineSettings settings) {
    return Line("", std::move(path), settings);
}

Line::Line(std::string link, std::optional<std::string> device, LineSettings settings)
    : link_(std::move(link)), device_(std::move(device)), settings_(settings) {
    try {
        open();
    } catch (...) {
        close();
        throw;
    }
}

Line::Line(Line &&other) noexcept
    : link_(std::move(other.link_)), device_(std::move(other.device_)), settings_(other.settings_),
      fd_(std::exchange(other.fd_, -1)), slave_fd_(std::exchange(other.slave_fd_, -1)),
      peer_path_(std::move(other.peer_path_)) {
    other.link_.clear();
}

Line::~Line() {
    close();
}

std::size_t Line::unread() const {
    const bool pseudo_terminal = slave_fd_ >= 0;
    int count = 0;
    if (!is_open() || ::ioctl(pseudo_terminal ? slave_fd_ : fd_,
                              pseudo_terminal ? FIONREAD : TIOCOUTQ, &count) != 0)
        return 0;
    return count > 0 ? static_cast<std::size_t>(count) : 0;
}

// The link goes with the line: while it is down a peer that opens the link finds no device,
// never a stale path that another pseudo-terminal may have taken over.
void Line::close() {
    if (!link_.empty())
        ::unlink(link_.c_str());
    if (slave_fd_ >= 0)
        ::close(std::exchange(slave_fd_, -1));
    if (fd_ >= 0)
        ::close(std::exchange(fd_, -1));
}

void Line::open() {
    if (device_)
        open_device();
    else
        open_pseudo_terminal();
}

void Line::open_pseudo_terminal() {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0)
        fail("posix_openpt");
    char name[PATH_MAX];
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
        ::ptsname_r(master, name, sizeof name) != 0) {
        ::close(master);
        fail("pseudo-terminal set-up");
    }
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0 || !make_raw(slave) || ::fcntl(master, F_SETFL, O_NONBLOCK) != 0) {
        const int error = errno;
        if (slave >= 0)
            ::close(slave);
        ::close(master);
        errno = error;
        fail(std::string("pseudo-terminal slave ") + name);
    }
    fd_ = master;
    slave_fd_ = slave;
    peer_path_ = name;
    update_link();
}

void Line::open_device() {
    const int fd = ::open(device_->c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        fail("open " + *device_);
    if (!apply_line_settings(fd, settings_)) {
        const int error = errno;
        ::close(fd);
        errno = error;
        fail("line settings of " + *device_);
    }
    fd_ = fd;
    peer_path_ = *device_;
}

void Line::update_link() const {
    if (link_.empty())
        return;
    const std::string temporary = link_ + ".new";
    ::unlink(temporary.c_str());
    if (::symlink(peer_path_.c_str(), temporary.c_str()) != 0)
        fail("symlink " + temporary);
    if (::rename(temporary.c_str(), link_.c_str()) != 0)
        fail("rename to " + link_);
}

} // namespace em1sim
