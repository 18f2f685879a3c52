#include "path_claim.h"

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace em1sim {
namespace {

// FNV-1a: a short, fixed-length name for a path of any length.
std::uint64_t HashOf(const std::string &text) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

} // namespace

std::string AbsolutePath(const std::string &path) {
    const auto slash = path.rfind('/');
    const std::string directory =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    char resolved[PATH_MAX];
    if (::realpath(directory.c_str(), resolved) == nullptr)
        return path;
    const std::string base(resolved);
    return (base == "/" ? "" : base) + "/" + name;
}

std::optional<PathClaim> PathClaim::Take(const std::string &path) {
    char name[40];
    std::snprintf(name, sizeof name, "em1sim-claim-%016llx",
                  static_cast<unsigned long long>(HashOf(AbsolutePath(path))));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // A leading NUL puts the name in the abstract namespace.
    std::memcpy(address.sun_path + 1, name, std::strlen(name));
    const auto length =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + std::strlen(name));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::system_error(errno, std::generic_category(), "socket");
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), length) == 0)
        return PathClaim(fd);
    const int error = errno;
    ::close(fd);
    if (error == EADDRINUSE)
        return std::nullopt;
    throw std::system_error(error, std::generic_category(), "claim on " + path);
}

PathClaim::PathClaim(PathClaim &&other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

PathClaim &PathClaim::operator=(PathClaim &&other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
}

PathClaim::~PathClaim() {
    if (fd_ >= 0)
        ::close(fd_);
}

} // namespace em1sim
