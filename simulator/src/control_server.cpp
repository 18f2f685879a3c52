#include "control_server.h"

#include "control_path.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <system_error>
#include <unistd.h>

namespace em1sim {
namespace {

constexpr std::size_t kMaxCommand = 1024;

void SendAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t sent = ::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
        if (sent <= 0)
            return;
        text.remove_prefix(static_cast<std::size_t>(sent));
    }
}

// True when a server answers at the socket file.
bool SomeoneListens(const sockaddr_un &address) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool answered =
        ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return answered;
}

} // namespace

ControlServer::ControlServer(std::string path) : path_(std::move(path)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path_.size() >= sizeof address.sun_path)
        throw std::system_error(ENAMETOOLONG, std::generic_category(), "control socket " + path_);
    std::memcpy(address.sun_path, path_.c_str(), path_.size() + 1);
    CheckControlDirectory(path_);
    claim_ = PathClaim::Take(path_);
    if (!claim_ || SomeoneListens(address))
        throw std::runtime_error("the control socket " + path_ +
                                 " is served by another running em1sim");
    MakeRoom();
    listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listenFd_ < 0)
        throw std::system_error(errno, std::generic_category(), "socket");
    BindOwnerOnly(address);
}

ControlServer::~ControlServer() {
    for (const auto &client : clients_)
        ::close(client.fd);
    ::close(listenFd_);
    struct stat status {};
    if (::lstat(path_.c_str(), &status) == 0 && status.st_dev == device_ && status.st_ino == inode_)
        ::unlink(path_.c_str());
}

// Removes a socket file that nobody serves any more; anything else in the way is refused.
void ControlServer::MakeRoom() const {
    struct stat status {};
    if (::lstat(path_.c_str(), &status) != 0)
        return;
    if (!S_ISSOCK(status.st_mode))
        throw std::runtime_error("the control socket " + path_ +
                                 " would replace a file that is not a socket; remove it or "
                                 "choose another path");
    ::unlink(path_.c_str());
}

// The socket file is made with mode 0600: the mask is narrowed around bind, as a socket
// file takes its mode from the mask alone.
void ControlServer::BindOwnerOnly(const sockaddr_un &address) {
    const mode_t mask = ::umask(0177);
    const bool bound =
        ::bind(listenFd_, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    const int bindError = errno;
    ::umask(mask);
    struct stat status {};
    if (!bound || ::listen(listenFd_, 8) != 0 || ::lstat(path_.c_str(), &status) != 0) {
        const int error = bound ? errno : bindError;
        if (bound)
            ::unlink(path_.c_str());
        ::close(listenFd_);
        throw std::system_error(error, std::generic_category(), "control socket " + path_);
    }
    device_ = status.st_dev;
    inode_ = status.st_ino;
}

void ControlServer::Watch(std::vector<pollfd> &fds) const {
    fds.push_back(pollfd{listenFd_, POLLIN, 0});
    for (const auto &client : clients_)
        fds.push_back(pollfd{client.fd, POLLIN, 0});
}

void ControlServer::Serve(const std::vector<pollfd> &fds, const Executor &execute) {
    const auto ready = [&](int fd) {
        const auto found = std::ranges::find(fds, fd, &pollfd::fd);
        return found != fds.end() && (found->revents & (POLLIN | POLLHUP | POLLERR)) != 0;
    };
    std::erase_if(clients_, [&](Client &client) {
        if (!ready(client.fd) || ReadClient(client, execute))
            return false;
        ::close(client.fd);
        return true;
    });
    if (ready(listenFd_))
        AcceptClient();
}

void ControlServer::AcceptClient() {
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd >= 0)
        clients_.push_back(Client{fd, {}});
}

bool ControlServer::ReadClient(Client &client, const Executor &execute) {
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
        SendAll(client.fd, execute(line) + '\n');
    }
    return client.pending.size() <= kMaxCommand;
}

} // namespace em1sim
