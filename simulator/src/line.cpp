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

[[noreturn]] void Fail(const std::string &what) {
    throw std::system_error(errno, std::generic_category(), what);
}

bool PathExists(const std::string &path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 || errno != ENOENT;
}

// The target of the symbolic link at path; nullopt when path is no symbolic link.
std::optional<std::string> LinkTarget(const std::string &path) {
    char target[PATH_MAX];
    const ssize_t length = ::readlink(path.c_str(), target, sizeof target);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof target)
        return std::nullopt;
    return std::string(target, static_cast<std::size_t>(length));
}

// A link to a pseudo-terminal's slave: one this line made, or one that an ended simulator
// left behind (the claim on the link proves that no running simulator keeps it).
bool IsPseudoTerminalLink(const std::string &path) {
    const auto target = LinkTarget(path);
    return target && target->starts_with(kPseudoTerminals);
}

void RefuseForeignFile(const std::string &link) {
    if (PathExists(link) && !IsPseudoTerminalLink(link))
        throw std::runtime_error("the link " + link +
                                 " would replace a file that em1sim did not make; remove it or "
                                 "choose another path");
}

} // namespace

Line Line::PseudoTerminal(std::string link) {
    return Line(std::move(link), std::nullopt, LineSettings{});
}

Line Line::Device(std::string path, LineSettings settings) {
    return Line("", std::move(path), settings);
}

Line::Line(std::string link, std::optional<std::string> device, LineSettings settings)
    : link_(std::move(link)), device_(std::move(device)), settings_(settings) {
    if (!link_.empty()) {
        linkClaim_ = PathClaim::Take(link_);
        if (!linkClaim_)
            throw std::runtime_error("the link " + link_ + " is kept by another running em1sim");
        RefuseForeignFile(link_);
    }
    Open();
}

Line::Line(Line &&other) noexcept
    : link_(std::move(other.link_)), linkClaim_(std::move(other.linkClaim_)),
      linkTarget_(std::move(other.linkTarget_)), device_(std::move(other.device_)),
      settings_(other.settings_), fd_(std::exchange(other.fd_, -1)),
      slaveFd_(std::exchange(other.slaveFd_, -1)), peerPath_(std::move(other.peerPath_)) {
    other.link_.clear();
    other.linkTarget_.clear();
}

Line::~Line() {
    Close();
}

void Line::RemoveLink() const {
    if (!linkTarget_.empty() && LinkTarget(link_) == linkTarget_)
        ::unlink(link_.c_str());
}

std::size_t Line::Unread() const {
    const bool pseudoTerminal = slaveFd_ >= 0;
    int count = 0;
    if (!IsOpen() ||
        ::ioctl(pseudoTerminal ? slaveFd_ : fd_, pseudoTerminal ? FIONREAD : TIOCOUTQ, &count) != 0)
        return 0;
    return count > 0 ? static_cast<std::size_t>(count) : 0;
}

// The link goes with the line: while it is down a peer that opens the link finds no device,
// never a stale path that another pseudo-terminal may have taken over.
void Line::Close() {
    RemoveLink();
    linkTarget_.clear();
    if (slaveFd_ >= 0)
        ::close(std::exchange(slaveFd_, -1));
    if (fd_ >= 0)
        ::close(std::exchange(fd_, -1));
}

void Line::Open() {
    try {
        if (device_)
            OpenDevice();
        else
            OpenPseudoTerminal();
    } catch (...) {
        Close();
        throw;
    }
}

void Line::OpenPseudoTerminal() {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0)
        Fail("posix_openpt");
    char name[PATH_MAX];
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
        ::ptsname_r(master, name, sizeof name) != 0) {
        ::close(master);
        Fail("pseudo-terminal set-up");
    }
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0 || !MakeRaw(slave) || ::fcntl(master, F_SETFL, O_NONBLOCK) != 0) {
        const int error = errno;
        if (slave >= 0)
            ::close(slave);
        ::close(master);
        errno = error;
        Fail(std::string("pseudo-terminal slave ") + name);
    }
    fd_ = master;
    slaveFd_ = slave;
    peerPath_ = name;
    UpdateLink();
}

void Line::OpenDevice() {
    const int fd = ::open(device_->c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        Fail("open " + *device_);
    if (!ApplyLineSettings(fd, settings_)) {
        const int error = errno;
        ::close(fd);
        errno = error;
        Fail("line settings of " + *device_);
    }
    fd_ = fd;
    peerPath_ = *device_;
}

// Makes the new link beside the old one under a name of this process and moves it into
// place, so a peer never finds the link missing. Neither step removes a file of anyone else.
void Line::UpdateLink() {
    if (link_.empty())
        return;
    RefuseForeignFile(link_);
    const std::string temporary = link_ + ".em1sim-" + std::to_string(::getpid());
    if (::symlink(peerPath_.c_str(), temporary.c_str()) != 0)
        Fail("symlink " + temporary);
    if (::rename(temporary.c_str(), link_.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        errno = error;
        Fail("rename to " + link_);
    }
    linkTarget_ = peerPath_;
}

} // namespace em1sim
