#include "control_client.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace em1sim {
namespace {

int connect_to(const std::string &path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return -1;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 &&
        ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::string read_line(int fd) {
    std::string line;
    char byte = 0;
    while (::read(fd, &byte, 1) == 1 && byte != '\n')
        line += byte;
    return line;
}

} // namespace

int run_control_client(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: em1sim ctl SOCKET COMMAND...\n");
        return 2;
    }
    std::string command;
    for (int i = 1; i < argc; ++i)
        command += (i > 1 ? " " : "") + std::string(argv[i]);
    const int fd = connect_to(argv[0]);
    if (fd < 0) {
        std::fprintf(stderr, "em1sim: cannot connect to %s: %s\n", argv[0], std::strerror(errno));
        return 2;
    }
    command += '\n';
    const bool sent = ::send(fd, command.data(), command.size(), MSG_NOSIGNAL) ==
                      static_cast<ssize_t>(command.size());
    const std::string answer = sent ? read_line(fd) : "error: cannot send";
    ::close(fd);
    std::printf("%s\n", answer.c_str());
    return answer.starts_with("error") ? 1 : 0;
}

} // namespace em1sim
