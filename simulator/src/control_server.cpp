#include "control_server.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <system_error>
#include <unistd.h>

namespace em1sim {
namespace {

constexpr std::size_t kMaxCommand = 1024;

void send_all(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t sent = ::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
        if (sent <= 0)
            return;
        text.remove_prefix(static_cast<std::size_t>(sent));
    }
}

} // namespace

ControlServer::ControlServer(std::string path) : path_(std::move(path)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path_.size() >= sizeof address.sun_path)
        throw std::system_error(ENAMETOOLONG, std::generic_category(), "control socket " + path_);
    std::memcpy(address.sun_path, path_.c_str(), path_.size() + 1);
    listen_fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listen_fd_ < 0)
        throw std::system_error(errno, std::generic_category(), "socket");
    ::unlink(path_.c_str());
    if (::bind(listen_fd_, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(listen_fd_, 8) != 0) {
        const int error = errno;
        ::close(listen_fd_);
        throw std::system_error(error, std::generic_category(), "control socket " + path_);
    }
}

ControlServer::~ControlServer() {
    for (const auto &client : clients_)
        ::close(client.fd);
    ::close(listen_fd_);
    ::unlink(path_.c_str());
}

void ControlServer::watch(std::vector<pollfd> &fds) const {
    fds.push_back(pollfd{listen_fd_, POLLIN, 0});
    for (const auto &client : clients_)
        fds.push_back(pollfd{client.fd, POLLIN, 0});
}

void ControlServer::serve(const std::vector<pollfd> &fds, const Executor &execute) {
    const auto ready = [&](int fd) {
        const auto found = std::ranges::find(fds, fd, &pollfd::fd);
        return found != fds.end() && (found->revents & (POLLIN | POLLHUP | POLLERR)) != 0;
    };
    std::erase_if(clients_, [&](Client &client) {
        if (!ready(client.fd) || read_client(client, execute))
            return false;
        ::close(client.fd);
        return true;
    });
    if (ready(listen_fd_))
        accept_client();
}

void ControlServer::accept_client() {
    const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd >= 0)
        clients_.push_back(Client{fd, {}});
}

bool ControlServer::read_client(Client &client, const Executor &execute) {
    char buffer[512];
    const ssize_t count = ::recv(client.fd, buffer, sizeof buffer, 0);
    if (count < 0)
        return errno == EAGAIN || errno == EINTR;
    if (count == 0)
        return false;
    client.pending.append(buffer, static_cast<std::size_t>(count));
    for (auto end = client.pending.find('\n'); end != std::string::npos;
         end = client.pending.find('\n')) {
        std::string line = client.pending.substr(0, end);
        client.pending.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        send_all(client.fd, execute(line) + '\n');
    }
    return client.pending.size() <= kMaxCommand;
}

} // namespace em1sim
