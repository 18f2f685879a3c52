#include "suite_time.h"

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace bench {
namespace {

// Runs program with its output discarded and EM_VIRTUAL_TIME_FILE set; its exit status.
int RunQuietly(const std::string &program, const std::string &report) {
    std::vector<std::string> environment{"EM_VIRTUAL_TIME_FILE=" + report};
    for (char **variable = environ; *variable != nullptr; ++variable)
        if (!std::string(*variable).starts_with("EM_VIRTUAL_TIME_FILE="))
            environment.emplace_back(*variable);
    std::vector<char *> envp;
    envp.reserve(environment.size() + 1);
    for (auto &variable : environment)
        envp.push_back(variable.data());
    envp.push_back(nullptr);
    std::string name = program;
    char *argv[] = {name.data(), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return -1;
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

double ReportedVirtualMs(const std::string &report) {
    std::ifstream file(report);
    double total = 0;
    bool any = false;
    for (double ms = 0; file >> ms; any = true)
        total += ms;
    if (!any)
        throw std::runtime_error("no virtual time in " + report);
    return total;
}

} // namespace

std::vector<SuiteTime> TimeSuites(const std::vector<std::string> &programs,
                                  const std::string &scratchDir) {
    std::vector<SuiteTime> results;
    for (const std::string &program : programs) {
        const std::string name = std::filesystem::path(program).filename().string();
        const std::string report =
            (std::filesystem::path(scratchDir) / (name + ".virtual-ms")).string();
        std::filesystem::remove(report);
        std::fprintf(stderr, "running %s\n", name.c_str());
        const auto start = std::chrono::steady_clock::now();
        const int status = RunQuietly(program, report);
        const auto end = std::chrono::steady_clock::now();
        if (status != 0)
            throw std::runtime_error(name + " failed with status " + std::to_string(status));
        results.push_back(SuiteTime{name, ReportedVirtualMs(report) / 1000,
                                    std::chrono::duration<double>(end - start).count()});
        std::filesystem::remove(report);
    }
    return results;
}

} // namespace bench
