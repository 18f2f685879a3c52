#include "control_path.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace em1sim {
namespace {

std::string private_directory() {
    return "/tmp/em1sim-" + std::to_string(::geteuid());
}

std::string runtime_directory() {
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    return runtime != nullptr && runtime[0] == '/' ? std::string(runtime) : private_directory();
}

std::string directory_of(const std::string &path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

[[noreturn]] void refuse(const std::string &directory, const std::string &reason) {
    throw std::runtime_error("control socket directory " + directory + " " + reason +
                             "; use a directory of your own, or a bare socket name for one in "
                             "$XDG_RUNTIME_DIR");
}

} // namespace

std::string control_socket_path(const std::string &given) {
    if (given.find('/') != std::string::npos)
        return given;
    return runtime_directory() + "/" + given;
}

void check_control_directory(const std::string &socket_path) {
    const std::string directory = directory_of(socket_path);
    if (directory == private_directory() && ::mkdir(directory.c_str(), 0700) != 0 &&
        errno != EEXIST)
        refuse(directory, std::string("cannot be made: ") + std::strerror(errno));
    struct stat status {};
    if (::stat(directory.c_str(), &status) != 0)
        refuse(directory, std::string("cannot be used: ") + std::strerror(errno));
    if (!S_ISDIR(status.st_mode))
        refuse(directory, "is not a directory");
    if (status.st_uid != ::geteuid())
        refuse(directory, "belongs to another user");
    if ((status.st_mode & S_IWOTH) != 0)
        refuse(directory, "is writable by every user");
}

} // namespace em1sim
