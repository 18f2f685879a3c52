#include "platform.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool IsTerminal(std::FILE *stream) {
    return isatty(fileno(stream)) == 1;
}

bool StandardOutputOpen() {
    return fcntl(STDOUT_FILENO, F_GETFD) != -1;
}

// SIGPIPE ends em1 first, unless it was started with SIGPIPE ignored.
bool StandardOutputPipeClosed(int error) {
    return error == EPIPE;
}

void PrepareConsole() {}

bool SetEnvironment(const char *name, const char *value) {
    return setenv(name, value, 1) == 0;
}

std::string MakePrivateFile() {
    const char *folder = std::getenv("TMPDIR");
    std::string path =
        std::string(folder != nullptr && *folder != '\0' ? folder : "/tmp") + "/em1-line-XXXXXX";
    const int fd = mkstemp(path.data()); // mode 0600
    if (fd < 0) {
        return "";
    }
    close(fd);
    return path;
}

std::string TraceFileProblem(const std::string &path) {
    const int fd =
        open(path.c_str(),
             O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC,
             S_IRUSR | S_IWUSR);
    if (fd < 0) {
        return errno == ELOOP ? "it is a symbolic link" : std::strerror(errno);
    }
    struct stat status {};
    const bool known = fstat(fd, &status) == 0;
    close(fd);
    if (!known || !S_ISREG(status.st_mode)) {
        return "it is not a regular file";
    }
    if (status.st_uid != geteuid()) {
        return "it belongs to another user";
    }
    if (status.st_nlink != 1) {
        return "it has another name (a hard link)";
    }
    return "";
}

std::string ResolvedPortName(const std::string &name) {
    struct stat status {};
    if (name.empty() || name.front() != '/' || lstat(name.c_str(), &status) != 0 ||
        !S_ISLNK(status.st_mode)) {
        return name;
    }
    char resolved[PATH_MAX];
    if (realpath(name.c_str(), resolved) == nullptr) {
        return name;
    }
    return resolved;
}
