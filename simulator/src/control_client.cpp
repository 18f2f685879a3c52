#include "control_client.h"

#include "control_path.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace em1sim {
namespace {

int ConnectTo(const std::string &path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 &&
        ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

std::string ReadLine(int fd) {
    std::string line;
    char byte = 0;
    while (::read(fd, &byte, 1) == 1 && byte != '\n')
        line += byte;
    return line;
}

// The answer to "help" is one line with the commands separated by "; ": one a line here.
void PrintAnswer(const std::string &command, std::string answer) {
    if (command == "help\n" && !answer.starts_with("error"))
        for (auto at = answer.find("; "); at != std::string::npos; at = answer.find("; ", at))
            answer.replace(at, 2, "\n");
    std::printf("%s\n", answer.c_str());
}

} // namespace

int RunControlClient(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: em1sim ctl SOCKET COMMAND...  ('help' lists the commands)\n");
        return 2;
    }
    std::string command;
    for (int i = 1; i < argc; ++i)
        command += (i > 1 ? " " : "") + std::string(argv[i]);
    const std::string path = ControlSocketPath(argv[0]);
    const int fd = ConnectTo(path);
    if (fd < 0) {
        std::fprintf(stderr, "em1sim: cannot connect to the control socket %s: %s\n", path.c_str(),
                     std::strerror(errno));
        return 2;
    }
    command += '\n';
    const bool sent = ::send(fd, command.data(), command.size(), MSG_NOSIGNAL) ==
                      static_cast<ssize_t>(command.size());
    const std::string answer = sent ? ReadLine(fd) : "error: cannot send";
    ::close(fd);
    PrintAnswer(command, answer);
    return answer.starts_with("error") ? 1 : 0;
}

} // namespace em1sim
