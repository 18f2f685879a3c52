// The control socket: a Unix stream socket that accepts command lines from any number of
// clients and writes one answer line for each.
//
// Only its owner can connect (mode 0600), and it lives in a directory that keeps others out.
// A second simulator never takes over a socket that one is serving: only a socket that nobody
// listens on any more is replaced, and at the end the socket is removed only while it is
// still this server's.
#pragma once

#include "path_claim.h"

#include <functional>
#include <optional>
#include <poll.h>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <sys/un.h>
#include <vector>

namespace em1sim {

class ControlServer {
  public:
    using Executor = std::function<std::string(std::string_view)>;

    // Listens at path; throws std::system_error, or std::runtime_error when the path is in
    // use or unsafe.
    explicit ControlServer(std::string path);
    ~ControlServer();
    ControlServer(const ControlServer &) = delete;
    ControlServer &operator=(const ControlServer &) = delete;

    // Appends the descriptors to watch; Serve() takes the same entries back after poll().
    void Watch(std::vector<pollfd> &fds) const;
    void Serve(const std::vector<pollfd> &fds, const Executor &execute);

  private:
    struct Client {
        int fd;
        std::string pending;
    };

    void MakeRoom() const;
    void BindOwnerOnly(const sockaddr_un &address);
    void AcceptClient();
    // false when the client has gone.
    bool ReadClient(Client &client, const Executor &execute);

    std::string path_;
    std::optional<PathClaim> claim_;
    int listenFd_ = -1;
    dev_t device_ = 0; // identity of the socket file this server made
    ino_t inode_ = 0;
    std::vector<Client> clients_;
};

} // namespace em1sim
