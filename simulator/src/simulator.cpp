#include "em1sim/simulator.h"

#include "engine.h"
#include "line_settings.h"

#include <optional>
#include <stdexcept>
#include <string_view>
#include <thread>

namespace em1sim {
namespace {

std::chrono::nanoseconds pace_of(const Options &options) {
    if (!options.pace)
        return std::chrono::nanoseconds(0);
    const bool framing = options.data_bits >= 5 && options.data_bits <= 8 &&
                         (options.stop_bits == 1 || options.stop_bits == 2) &&
                         std::string_view("NEOMS").find(options.parity) != std::string_view::npos;
    if (options.baud <= 0 || !framing)
        throw std::invalid_argument("pace: baud above 0, 5 to 8 data bits, parity N, E, O, M "
                                    "or S, 1 or 2 stop bits");
    return character_time(
        LineSettings{options.baud, options.data_bits, options.parity, options.stop_bits});
}

ModelSettings model_settings(const Options &options) {
    return ModelSettings{options.loops,
                         options.modules,
                         ProtocolSettings{options.fast_start, options.confirm_letters},
                         options.latency,
                         options.drift,
                         options.seed,
                         pace_of(options)};
}

} // namespace

// The trace outlives the engine, so a test can read it after stop().
struct Simulator::Running {
    explicit Running(const Options &options)
        : trace(options.trace_to_stderr ? stderr : nullptr, true) {
        engine.emplace(Line::pseudo_terminal(options.link), model_settings(options), trace);
        for (const auto &command : options.commands)
            if (const auto answer = engine->execute(command); answer.starts_with("error:"))
                throw std::runtime_error(std::string(command).append(": ").append(answer));
        thread = std::thread([this] { engine->run(); });
    }

    ~Running() { stop(); }

    void stop() {
        if (!engine)
            return;
        engine->stop();
        thread.join();
        engine.reset();
    }

    Trace trace;
    std::optional<Engine> engine;
    std::thread thread;
};

Simulator::Simulator(const Options &options) : running_(std::make_unique<Running>(options)) {}

Simulator::~Simulator() = default;

void Simulator::stop() {
    running_->stop();
}

std::string Simulator::slave_path() const {
    return running_->engine ? running_->engine->peer_path() : std::string();
}

std::string Simulator::command(std::string_view line) {
    if (!running_->engine)
        throw std::runtime_error("the simulator has stopped");
    return running_->engine->execute(line);
}

std::string Simulator::get(std::string_view item) {
    std::string answer = command("get " + std::string(item));
    if (answer.starts_with("error:"))
        throw std::runtime_error(answer);
    return answer;
}

void Simulator::expect_ok(const std::string &line) {
    if (const std::string answer = command(line); answer != "ok")
        throw std::runtime_error(line + ": " + answer);
}

void Simulator::set(std::string_view item, std::string_view value) {
    expect_ok("set " + std::string(item) + ' ' + std::string(value));
}

void Simulator::fault(std::string_view rule) {
    expect_ok("fault " + std::string(rule));
}

void Simulator::clear_faults() {
    expect_ok("clear");
}

void Simulator::add_alert(std::string_view text) {
    expect_ok("alert add " + std::string(text));
}

void Simulator::hang_up(std::chrono::milliseconds down_time) {
    expect_ok("hangup " + std::to_string(down_time.count()));
}

std::vector<TraceEntry> Simulator::trace() const {
    return running_->trace.entries();
}

std::string Simulator::trace_text() const {
    std::string text;
    for (const auto &entry : trace())
        text += format_entry(entry) + '\n';
    return text;
}

} // namespace em1sim
