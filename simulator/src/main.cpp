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

em1sim::Engine *running_engine = nullptr;

void stop_on_signal(int) {
    if (running_engine != nullptr)
        running_engine->stop();
}

void install_signal_handlers() {
    struct sigaction action {};
    action.sa_handler = stop_on_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

void print_line_path(const std::string &path) {
    std::printf("%s\n", path.c_str());
    std::fflush(stdout);
}

using FileCloser = int (*)(std::FILE *);

std::unique_ptr<std::FILE, FileCloser> open_trace(const std::optional<std::string> &path) {
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

em1sim::Line open_line(const em1sim::ProgramOptions &options) {
    return options.device ? em1sim::Line::device(*options.device, options.line)
                          : em1sim::Line::pseudo_terminal(options.link);
}

int simulate(const em1sim::ProgramOptions &options) {
    const auto trace_file = open_trace(options.trace);
    em1sim::Trace trace(trace_file.get(), false);
    em1sim::Engine engine(open_line(options), options.model, trace);
    for (const auto &command : options.commands)
        if (const auto answer = engine.execute(command); answer.starts_with("error:")) {
            std::fprintf(stderr, "em1sim: %s: %s\n", command.c_str(), answer.c_str());
            return 2;
        }
    if (!options.control.empty())
        engine.listen(em1sim::control_socket_path(options.control));
    // The handlers are in place before the path is printed: whoever reads the path may
    // signal at once, and the signal must still clean up.
    running_engine = &engine;
    install_signal_handlers();
    engine.on_line_opened(print_line_path);
    print_line_path(engine.peer_path());
    engine.run();
    running_engine = nullptr;
    trace.event("stopped");
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    if (argc >= 2 && std::strcmp(argv[1], "ctl") == 0)
        return em1sim::run_control_client(argc - 2, argv + 2);
    const auto options = em1sim::parse_options(argc, argv);
    if (!options)
        return 2;
    if (options->help) {
        em1sim::print_help();
        return 0;
    }
    if (options->version) {
        em1sim::print_version();
        return 0;
    }
    try {
        return simulate(*options);
    } catch (const std::exception &error) {
        std::fprintf(stderr, "em1sim: %s\n", error.what());
        return 1;
    }
}
