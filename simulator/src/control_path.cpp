#include "control_path.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace em1sim {
namespace {

std::string PrivateDirectory() {
    return "/tmp/em1sim-" + std::to_string(::geteuid());
}

std::string RuntimeDirectory() {
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    return runtime != nullptr && runtime[0] == '/' ? std::string(runtime) : PrivateDirectory();
}

std::string DirectoryOf(const std::string &path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

[[noreturn]] void Refuse(const std::string &directory, const std::string &reason) {
    throw std::runtime_error("control socket directory " + directory + " " + reason +
                             "; use a directory of your own, or a bare socket name for one in "
                             "$XDG_RUNTIME_DIR");
}

} // namespace

std::string ControlSocketPath(const std::string &given) {
    if (given.find('/') != std::string::npos)
        return given;
    return RuntimeDirectory() + "/" + given;
}

void CheckControlDirectory(const std::string &socketPath) {
    const std::string directory = DirectoryOf(socketPath);
    if (directory == PrivateDirectory() && ::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST)
        Refuse(directory, std::string("cannot be made: ") + std::strerror(errno));
    struct stat status {};
    if (::stat(directory.c_str(), &status) != 0)
        Refuse(directory, std::string("cannot be used: ") + std::strerror(errno));
    if (!S_ISDIR(status.st_mode))
        Refuse(directory, "is not a directory");
    if (status.st_uid != ::geteuid())
        Refuse(directory, "belongs to another user");
    if ((status.st_mode & S_IWOTH) != 0)
        Refuse(directory, "is writable by every user");
}

} // namespace em1sim
