#include "simulator_process.h"

#include <csignal>
#include <cstdio>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace bench {
namespace {

std::string ReadLine(int fd) {
    std::string line;
    char c = 0;
    while (::read(fd, &c, 1) == 1 && c != '\n')
        line += c;
    return line;
}

} // namespace

SimulatorProcess::SimulatorProcess(const std::string &program, std::vector<std::string> arguments) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    arguments.insert(arguments.begin(), program);
    std::vector<char *> argv;
    argv.reserve(arguments.size() + 1);
    for (auto &argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    const int spawned =
        posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (spawned == 0)
        slavePath_ = ReadLine(pipeFds[0]);
    ::close(pipeFds[0]);
    if (spawned != 0)
        pid_ = -1;
    if (slavePath_.empty()) {
        Stop();
        throw std::runtime_error("the simulator " + program + " did not start");
    }
}

SimulatorProcess::~SimulatorProcess() {
    Stop();
}

void SimulatorProcess::Stop() {
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

std::string SimulatorProcess::PortName() const {
    const std::string prefix = "/dev/";
    return slavePath_.starts_with(prefix) ? slavePath_.substr(prefix.size()) : slavePath_;
}

} // namespace bench
