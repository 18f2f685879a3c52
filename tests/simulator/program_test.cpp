// The em1sim program: its help and options, its control socket, its trace, the files it
// refuses to take over, and a clean end on SIGTERM, SIGHUP and SIGINT.
#include "pty_client.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using sim_test::PtyClient;

// A child process whose standard output (and, when asked, standard error) the test reads.
// extraEnvironment adds NAME=VALUE entries to the test's own environment.
class Program {
  public:
    explicit Program(std::vector<std::string> arguments, bool withStderr = false,
                     std::vector<std::string> extraEnvironment = {}) {
        int pipeFds[2];
        if (::pipe(pipeFds) != 0)
            throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
        if (withStderr)
            posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
        posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
        arguments.insert(arguments.begin(), EM1SIM_PROGRAM);
        std::vector<char *> argv;
        argv.reserve(arguments.size() + 1);
        for (auto &argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        std::vector<char *> envp;
        envp.reserve(extraEnvironment.size());
        for (auto &entry : extraEnvironment)
            envp.push_back(entry.data());
        for (char **entry = environ; *entry != nullptr; ++entry)
            envp.push_back(*entry);
        envp.push_back(nullptr);
        const int spawned =
            posix_spawn(&pid_, EM1SIM_PROGRAM, &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipeFds[1]);
        output_ = ::fdopen(pipeFds[0], "r");
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

    std::string ReadLine() {
        std::string line;
        for (int c; (c = std::fgetc(output_)) != EOF && c != '\n';)
            line += static_cast<char>(c);
        return line;
    }

    std::string ReadAll() {
        std::string text;
        for (int c; (c = std::fgetc(output_)) != EOF;)
            text += static_cast<char>(c);
        return text;
    }

    int WaitExit(int signalNumber = 0) {
        if (signalNumber != 0)
            ::kill(pid_, signalNumber);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

  private:
    pid_t pid_ = -1;
    std::FILE *output_ = nullptr;
};

std::string Control(const std::string &socket, const std::string &command) {
    Program client({"ctl", socket, command});
    std::string answer = client.ReadLine();
    client.WaitExit();
    return answer;
}

// A run that ends by itself: its exit status and everything it wrote.
struct Outcome {
    int status;
    std::string output;
};

Outcome RunProgram(const std::vector<std::string> &arguments,
                   const std::vector<std::string> &extraEnvironment = {}) {
    Program program(arguments, true, extraEnvironment);
    std::string output = program.ReadAll();
    return {program.WaitExit(), std::move(output)};
}

// A directory of the test's own (mode 0700), removed with everything in it.
struct PrivateDirectory {
    PrivateDirectory() {
        std::string pattern = fs::temp_directory_path() / "em1sim_test_XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp");
        path = pattern;
    }
    ~PrivateDirectory() { fs::remove_all(path); }
    std::string operator/(const std::string &name) const { return path + "/" + name; }
    std::string path;
};

// A simulator that runs until the test ends it; its first line is the slave's path.
struct RunningSimulator {
    explicit RunningSimulator(std::vector<std::string> arguments)
        : program(std::move(arguments)), slave(program.ReadLine()) {}
    Program program;
    std::string slave;
};

std::string ReadFile(const std::string &path) {
    std::ifstream file(path);
    std::stringstream contents;
    contents << file.rdbuf();
    return contents.str();
}

bool Contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

TEST(SimulatorProgram, HelpDocumentsEveryOption) {
    Program program({"--help"});
    const std::string help = program.ReadAll();
    EXPECT_EQ(program.WaitExit(), 0);
    for (const char *option :
         {"--device",  "--baud",  "--data-bits", "--parity",     "--stop-bits", "--link",
          "--latency", "--loops", "--modules",   "--slow-start", "--confirm",   "--no-drift",
          "--seed",    "--set",   "--alert",     "--fault",      "--script",    "--control",
          "--trace",   "--pace",  "--help",      "--version"})
        EXPECT_NE(help.find(option), std::string::npos) << option;
}

TEST(SimulatorProgram, ServesTheLineAndControlAndEndsCleanlyOnSigterm) {
    const PrivateDirectory directory;
    const std::string link = directory / "link", socket = directory / "sock",
                      trace = directory / "trace";
    Program program({"--link", link, "--control", socket, "--trace", trace, "--latency", "0",
                     "--no-drift", "--set", "L02S=7.5", "--fault", "L01S? refuse count=1"});
    const std::string slave = program.ReadLine();
    ASSERT_FALSE(slave.empty());
    EXPECT_EQ(std::filesystem::read_symlink(link), slave);

    PtyClient client(link);
    EXPECT_EQ(client.Ask("L01S?\r"), "?\r\x03");
    EXPECT_EQ(client.Ask("L02S?\r"), "L02S=7.5\r\x03");
    EXPECT_EQ(Control(socket, "set L02M MANUAL"), "ok");
    EXPECT_EQ(client.Ask("L02M?\r"), "L02M=MANUAL\r\x03");
    EXPECT_EQ(Control(socket, "get L02Q"), "error: no item 'L02Q'");

    EXPECT_EQ(program.WaitExit(SIGTERM), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
    EXPECT_FALSE(fs::exists(socket));
    const std::string contents = ReadFile(trace);
    EXPECT_TRUE(Contains(contents, "RX \"L02S?\\r\"")) << contents;
    EXPECT_TRUE(Contains(contents, "-- fault refuse on \"L01S?\""));
}

TEST(SimulatorProgram, HangupAndInterruptCleanUpLikeSigterm) {
    for (const int signalNumber : {SIGHUP, SIGINT}) {
        const PrivateDirectory directory;
        RunningSimulator simulator({"--link", directory / "link", "--control", directory / "sock"});
        ASSERT_FALSE(simulator.slave.empty());
        EXPECT_EQ(simulator.program.WaitExit(signalNumber), 0) << strsignal(signalNumber);
        EXPECT_FALSE(fs::exists(fs::symlink_status(directory / "link")));
        EXPECT_FALSE(fs::exists(fs::symlink_status(directory / "sock")));
    }
}

TEST(SimulatorProgram, ASecondSimulatorCannotTakeOverTheLinkOrTheControlSocket) {
    const PrivateDirectory directory;
    const std::string link = directory / "link", socket = directory / "sock";
    RunningSimulator first({"--link", link, "--control", socket, "--latency", "0"});
    ASSERT_FALSE(first.slave.empty());

    const struct {
        std::vector<std::string> arguments;
        std::string reason;
    } attempts[] = {
        {{"--link", link}, "the link " + link + " is kept by another running em1sim"},
        {{"--link", directory / "other", "--control", socket},
         "the control socket " + socket + " is served by another running em1sim"},
    };
    for (const auto &attempt : attempts) {
        const Outcome second = RunProgram(attempt.arguments);
        EXPECT_EQ(second.status, 1);
        EXPECT_TRUE(Contains(second.output, attempt.reason)) << second.output;
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(directory / "other"))) << "its own link is gone";
    EXPECT_EQ(fs::read_symlink(link), first.slave);
    EXPECT_EQ(Control(socket, "set L01S 3.5"), "ok");
    PtyClient client(link);
    EXPECT_EQ(client.Ask("L01S?\r"), "L01S=3.5\r\x03");
}

TEST(SimulatorProgram, NeverReplacesAFileItDidNotMake) {
    const PrivateDirectory directory;
    const std::string file = directory / "file", folder = directory / "folder",
                      pointer = directory / "pointer";
    std::ofstream(file) << "keep me";
    fs::create_directory(folder);
    fs::create_symlink(file, pointer);
    for (const auto &[option, path] : {std::pair{"--link", file},
                                       {"--link", folder},
                                       {"--link", pointer},
                                       {"--control", file},
                                       {"--control", folder}}) {
        const Outcome outcome = RunProgram({option, path});
        EXPECT_EQ(outcome.status, 1) << option << ' ' << path;
        EXPECT_TRUE(Contains(outcome.output, "would replace a file")) << outcome.output;
    }
    EXPECT_EQ(ReadFile(file), "keep me");
    EXPECT_TRUE(fs::is_directory(fs::symlink_status(folder)));
    EXPECT_EQ(fs::read_symlink(pointer), file);
}

// A link or socket that a killed simulator left behind is taken over; at the end only what
// this simulator made is removed, not what someone put in its place meanwhile.
TEST(SimulatorProgram, TakesOverLeftoversAndRemovesOnlyItsOwnFiles) {
    const PrivateDirectory directory;
    const std::string link = directory / "link", socket = directory / "sock";
    fs::create_symlink("/dev/pts/999999", link);
    const int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    socket.copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(stale, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
    ::close(stale);

    RunningSimulator simulator({"--link", link, "--control", socket});
    ASSERT_FALSE(simulator.slave.empty());
    EXPECT_EQ(fs::read_symlink(link), simulator.slave);
    EXPECT_EQ(Control(socket, "get L01S"), "26.0");
    struct stat status {};
    ASSERT_EQ(::stat(socket.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u) << "only its owner can use the control socket";

    fs::remove(link);
    std::ofstream(link) << "someone else's";
    fs::remove(socket);
    std::ofstream(socket) << "someone else's";
    EXPECT_EQ(simulator.program.WaitExit(SIGTERM), 0);
    EXPECT_EQ(ReadFile(link), "someone else's");
    EXPECT_EQ(ReadFile(socket), "someone else's");
}

TEST(SimulatorProgram, ControlSocketLivesOnlyInADirectoryThatKeepsOthersOut) {
    const PrivateDirectory runtime;
    const std::string xdg = "XDG_RUNTIME_DIR=" + runtime.path;
    Program named({"--control", "em1.sock"}, false, {xdg});
    ASSERT_FALSE(named.ReadLine().empty());
    EXPECT_TRUE(fs::is_socket(runtime / "em1.sock"));
    Program client({"ctl", "em1.sock", "get", "L01S"}, false, {xdg});
    EXPECT_EQ(client.ReadLine(), "26.0");
    EXPECT_EQ(client.WaitExit(), 0);
    EXPECT_EQ(named.WaitExit(SIGTERM), 0);

    const PrivateDirectory shared;
    fs::permissions(shared.path, fs::perms::all);
    const Outcome refused = RunProgram({"--control", shared / "sock"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(Contains(refused.output, "directory " + shared.path + " is writable by every user"))
        << refused.output;
    EXPECT_FALSE(fs::exists(fs::symlink_status(shared / "sock")));
}

TEST(SimulatorProgram, ControlHelpListsTheCommands) {
    const PrivateDirectory directory;
    RunningSimulator simulator({"--control", directory / "sock"});
    Program client({"ctl", directory / "sock", "help"});
    const std::string help = client.ReadAll();
    EXPECT_EQ(client.WaitExit(), 0);
    for (const char *command : {"\nget ITEM\n", "\nset ITEM VALUE\n", "\nfault PATTERN KIND",
                                "\nclear\n", "\nalerts\n", "\nhangup [MS]\n", "\nhelp\n"})
        EXPECT_TRUE(Contains("\n" + help, command)) << command << " in\n" << help;
    EXPECT_EQ(Control(directory / "sock", "frobnicate"),
              "error: unknown command 'frobnicate'; 'help' lists the commands");
}

TEST(SimulatorProgram, BadOptionValuesNameTheValueAndWhatIsAllowed) {
    const struct {
        std::vector<std::string> arguments;
        std::string message;
    } cases[] = {
        {{"--baud", "1234"}, "--baud '1234' is not allowed; use one of 300 600 1200"},
        {{"--baud", "fast"}, "--baud 'fast' is not allowed; use one of 300"},
        {{"--data-bits", "9"}, "--data-bits '9' is not allowed; use 5 to 8"},
        {{"--parity", "x"}, "--parity 'x' is not allowed; use none, even, odd, mark or space"},
        {{"--stop-bits", "3"}, "--stop-bits '3' is not allowed; use 1 or 2"},
        {{"--latency", "-5"}, "--latency '-5' is not allowed; use 0 to 600000 (milliseconds)"},
        {{"--loops", "30"}, "--loops '30' is not allowed; use 1 to 29"},
        {{"--modules", "36"}, "--modules '36' is not allowed; use 0 to 35"},
        {{"--seed", "-1"}, "--seed '-1' is not allowed; use 0 to 4294967295"},
        {{"--set", "L01S"}, "--set 'L01S' is not allowed; use ITEM=VALUE"},
        {{"--latency"}, "option '--latency' wants a value"},
        {{"--frobnicate"}, "unknown option '--frobnicate'"},
    };
    for (const auto &[arguments, message] : cases) {
        const Outcome outcome = RunProgram(arguments);
        EXPECT_EQ(outcome.status, 2) << arguments[0];
        EXPECT_TRUE(Contains(outcome.output, "em1sim: " + message)) << outcome.output;
    }
}

TEST(SimulatorProgram, VersionNamesTheProgramAndItsVersion) {
    const Outcome outcome = RunProgram({"--version"});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_TRUE(outcome.output.starts_with("em1sim (EM-1 driver) ")) << outcome.output;
    EXPECT_TRUE(Contains(outcome.output, EM1SIM_VERSION)) << outcome.output;
}

} // namespace
