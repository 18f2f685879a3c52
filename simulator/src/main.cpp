// em1sim: the EM-1 instrument simulator as a program.
#include "control_client.h"
#include "control_path.h"
#include "engine.h"
#include "options.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>

namespace {

em1sim::Engine *runningEngine = nullptr;

void StopOnSignal(int) {
    if (runningEngine != nullptr)
        runningEngine->Stop();
}

void InstallSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = StopOnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

void PrintLinePath(const std::string &path) {
    std::printf("%s\n", path.c_str());
    std::fflush(stdout);
}

using FileCloser = int (*)(std::FILE *);

std::unique_ptr<std::FILE, FileCloser> OpenTrace(const std::optional<std::string> &path) {
    if (!path)
        return {nullptr, std::fclose};
    if (*path == "-")
        return {stderr, [](std::FILE *) { return 0; }};
    std::FILE *file = std::fopen(path->c_str(), "a");
    if (file == nullptr)
        throw std::runtime_error("cannot open the trace file " + *path + ": " +
                                 std::strerror(errno));
    return {file, std::fclose};
}

em1sim::Line OpenLine(const em1sim::ProgramOptions &options) {
    return options.device ? em1sim::Line::Device(*options.device, options.line)
                          : em1sim::Line::PseudoTerminal(options.link);
}

int Simulate(const em1sim::ProgramOptions &options) {
    const auto traceFile = OpenTrace(options.trace);
    em1sim::Trace trace(traceFile.get(), false);
    em1sim::Engine engine(OpenLine(options), options.model, trace);
    for (const auto &command : options.commands)
        if (const auto answer = engine.Execute(command); answer.starts_with("error:")) {
            std::fprintf(stderr, "em1sim: %s: %s\n", command.c_str(), answer.c_str());
            return 2;
        }
    if (!options.control.empty())
        engine.Listen(em1sim::ControlSocketPath(options.control));
    // The handlers are in place before the path is printed: whoever reads the path may
    // signal at once, and the signal must still clean up.
    runningEngine = &engine;
    InstallSignalHandlers();
    engine.OnLineOpened(PrintLinePath);
    PrintLinePath(engine.PeerPath());
    engine.Run();
    runningEngine = nullptr;
    trace.Event("stopped");
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    if (argc >= 2 && std::strcmp(argv[1], "ctl") == 0)
        return em1sim::RunControlClient(argc - 2, argv + 2);
    const auto options = em1sim::ParseOptions(argc, argv);
    if (!options)
        return 2;
    if (options->help) {
        em1sim::PrintHelp();
        return 0;
    }
    if (options->version) {
        em1sim::PrintVersion();
        return 0;
    }
    try {
        return Simulate(*options);
    } catch (const std::exception &error) {
        std::fprintf(stderr, "em1sim: %s\n", error.what());
        return 1;
    }
}
