// Claims a path (a link or a control socket) for this process, so that two simulators never
// take over each other's line or control socket.
//
// The claim is an abstract Unix socket named after the path's absolute form: the kernel
// releases it when the process ends, however it ends, and it leaves nothing behind in the
// file system.
#pragma once

#include <optional>
#include <string>

namespace em1sim {

class PathClaim {
  public:
    // nullopt when another process holds the claim on path; throws std::system_error when
    // the claim cannot be tried at all.
    static std::optional<PathClaim> Take(const std::string &path);

    PathClaim(PathClaim &&other) noexcept;
    PathClaim &operator=(PathClaim &&other) noexcept;
    PathClaim(const PathClaim &) = delete;
    ~PathClaim();

  private:
    explicit PathClaim(int fd) : fd_(fd) {}
    int fd_ = -1;
};

// The absolute form of path, with its directory resolved (the last part may not exist yet).
std::string AbsolutePath(const std::string &path);

} // namespace em1sim
