// The em1sim program: its help, its control socket, its trace, and a clean end on SIGTERM.
#include "pty_client.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using sim_test::PtyClient;

// A child process whose standard output the test reads.
class Program {
  public:
    explicit Program(std::vector<std::string> arguments) {
        int pipe_fds[2];
        if (::pipe(pipe_fds) != 0)
            throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, pipe_fds[0]);
        arguments.insert(arguments.begin(), EM1SIM_PROGRAM);
        std::vector<char *> argv;
        for (auto &argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        const int spawned =
            posix_spawn(&pid_, EM1SIM_PROGRAM, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipe_fds[1]);
        output_ = ::fdopen(pipe_fds[0], "r");
        if (spawned != 0)
            throw std::runtime_error("cannot start em1sim");
    }

    ~Program() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        std::fclose(output_);
    }

    std::string read_line() {
        std::string line;
        for (int c; (c = std::fgetc(output_)) != EOF && c != '\n';)
            line += static_cast<char>(c);
        return line;
    }

    std::string read_all() {
        std::string text;
        for (int c; (c = std::fgetc(output_)) != EOF;)
            text += static_cast<char>(c);
        return text;
    }

    int wait_exit(int signal_number = 0) {
        if (signal_number != 0)
            ::kill(pid_, signal_number);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

  private:
    pid_t pid_ = -1;
    std::FILE *output_ = nullptr;
};

std::string control(const std::string &socket, const std::string &command) {
    Program client({"ctl", socket, command});
    std::string answer = client.read_line();
    client.wait_exit();
    return answer;
}

TEST(SimulatorProgram, HelpDocumentsEveryOption) {
    Program program({"--help"});
    const std::string help = program.read_all();
    EXPECT_EQ(program.wait_exit(), 0);
    for (const char *option :
         {"--device",  "--baud",  "--data-bits", "--parity",     "--stop-bits", "--link",
          "--latency", "--loops", "--modules",   "--slow-start", "--confirm",   "--no-drift",
          "--seed",    "--set",   "--alert",     "--fault",      "--script",    "--control",
          "--trace",   "--pace",  "--help"})
        EXPECT_NE(help.find(option), std::string::npos) << option;
}

TEST(SimulatorProgram, ServesTheLineAndControlAndEndsCleanlyOnSigterm) {
    const std::string base = testing::TempDir() + "em1sim_program_" + std::to_string(::getpid());
    const std::string link = base + ".link", socket = base + ".sock", trace = base + ".trace";
    std::filesystem::remove(trace);
    Program program({"--link", link, "--control", socket, "--trace", trace, "--latency", "0",
                     "--no-drift", "--set", "L02S=7.5", "--fault", "L01S? refuse count=1"});
    const std::string slave = program.read_line();
    ASSERT_FALSE(slave.empty());
    EXPECT_EQ(std::filesystem::read_symlink(link), slave);

    PtyClient client(link);
    EXPECT_EQ(client.ask("L01S?\r"), "?\r\x03");
    EXPECT_EQ(client.ask("L02S?\r"), "L02S=7.5\r\x03");
    EXPECT_EQ(control(socket, "set L02M MANUAL"), "ok");
    EXPECT_EQ(client.ask("L02M?\r"), "L02M=MANUAL\r\x03");
    EXPECT_EQ(control(socket, "get L02Q"), "error: no item 'L02Q'");

    EXPECT_EQ(program.wait_exit(SIGTERM), 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
    EXPECT_FALSE(std::filesystem::exists(socket));
    std::ifstream file(trace);
    std::stringstream contents;
    contents << file.rdbuf();
    EXPECT_NE(contents.str().find("RX \"L02S?\\r\""), std::string::npos) << contents.str();
    EXPECT_NE(contents.str().find("-- fault refuse on \"L01S?\""), std::string::npos);
    std::filesystem::remove(trace);
}

} // namespace
