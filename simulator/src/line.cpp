#include "line.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <stdexcept>
#include <string_view>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace em1sim {
namespace {

constexpr std::string_view kPseudoTerminals = "/dev/pts/";

[[noreturn]] void fail(const std::string &what) {
    throw std::system_error(errno, std::generic_category(), what);
}

bool path_exists(const std::string &path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 || errno != ENOENT;
}

// The target of the symbolic link at path; nullopt when path is no symbolic link.
std::optional<std::string> link_target(const std::string &path) {
    char target[PATH_MAX];
    const ssize_t length = ::readlink(path.c_str(), target, sizeof target);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof target)
        return std::nullopt;
    return std::string(target, static_cast<std::size_t>(length));
}

// A link to a pseudo-terminal's slave: one this line made, or one that an ended simulator
// left behind (the claim on the link proves that no running simulator keeps it).
bool is_pseudo_terminal_link(const std::string &path) {
    const auto target = link_target(path);
    return target && target->starts_with(kPseudoTerminals);
}

void refuse_foreign_file(const std::string &link) {
    if (path_exists(link) && !is_pseudo_terminal_link(link))
        throw std::runtime_error("the link " + link +
                                 " would replace a file that em1sim did not make; remove it or "
                                 "choose another path");
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
    if (!link_.empty()) {
        link_claim_ = PathClaim::take(link_);
        if (!link_claim_)
            throw std::runtime_error("the link " + link_ + " is kept by another running em1sim");
        refuse_foreign_file(link_);
    }
    open();
}

Line::Line(Line &&other) noexcept
    : link_(std::move(other.link_)), link_claim_(std::move(other.link_claim_)),
      link_target_(std::move(other.link_target_)), device_(std::move(other.device_)),
      settings_(other.settings_), fd_(std::exchange(other.fd_, -1)),
      slave_fd_(std::exchange(other.slave_fd_, -1)), peer_path_(std::move(other.peer_path_)) {
    other.link_.clear();
    other.link_target_.clear();
}

Line::~Line() {
    close();
}

void Line::remove_link() const {
    if (!link_target_.empty() && link_target(link_) == link_target_)
        ::unlink(link_.c_str());
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
    remove_link();
    link_target_.clear();
    if (slave_fd_ >= 0)
        ::close(std::exchange(slave_fd_, -1));
    if (fd_ >= 0)
        ::close(std::exchange(fd_, -1));
}

void Line::open() {
    try {
        if (device_)
            open_device();
        else
            open_pseudo_terminal();
    } catch (...) {
        close();
        throw;
    }
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

// Makes the new link beside the old one under a name of this process and moves it into
// place, so a peer never finds the link missing. Neither step removes a file of anyone else.
void Line::update_link() {
    if (link_.empty())
        return;
    refuse_foreign_file(link_);
    const std::string temporary = link_ + ".em1sim-" + std::to_string(::getpid());
    if (::symlink(peer_path_.c_str(), temporary.c_str()) != 0)
        fail("symlink " + temporary);
    if (::rename(temporary.c_str(), link_.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        errno = error;
        fail("rename to " + link_);
    }
    link_target_ = peer_path_;
}

} // namespace em1sim
