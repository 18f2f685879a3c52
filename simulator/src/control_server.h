// The control socket: a Unix stream socket that accepts command lines from any number of
// clients and writes one answer line for each.
#pragma once

#include <functional>
#include <poll.h>
#include <string>
#include <string_view>
#include <vector>

namespace em1sim {

class ControlServer {
  public:
    using Executor = std::function<std::string(std::string_view)>;

    // Listens at path (an existing socket file there is replaced); throws std::system_error.
    explicit ControlServer(std::string path);
    ~ControlServer();
    ControlServer(const ControlServer &) = delete;
    ControlServer &operator=(const ControlServer &) = delete;

    // Appends the descriptors to watch; serve() takes the same entries back after poll().
    void watch(std::vector<pollfd> &fds) const;
    void serve(const std::vector<pollfd> &fds, const Executor &execute);

  private:
    struct Client {
        int fd;
        std::string pending;
    };

    void accept_client();
    // false when the client has gone.
    bool read_client(Client &client, const Executor &execute);

    std::string path_;
    int listen_fd_ = -1;
    std::vector<Client> clients_;
};

} // namespace em1sim
