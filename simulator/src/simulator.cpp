#include "em1sim/simulator.h"

#include "engine.h"
#include "line_settings.h"

#include <optional>
#include <stdexcept>
#include <string_view>
#include <thread>

namespace em1sim {
namespace {

std::chrono::nanoseconds PaceOf(const Options &options) {
    if (!options.pace)
        return std::chrono::nanoseconds(0);
    const bool framing = options.dataBits >= 5 && options.dataBits <= 8 &&
                         (options.stopBits == 1 || options.stopBits == 2) &&
                         std::string_view("NEOMS").find(options.parity) != std::string_view::npos;
    if (options.baud <= 0 || !framing)
        throw std::invalid_argument("pace: baud above 0, 5 to 8 data bits, parity N, E, O, M "
                                    "or S, 1 or 2 stop bits");
    return CharacterTime(
        LineSettings{options.baud, options.dataBits, options.parity, options.stopBits});
}

ModelSettings ModelSettingsOf(const Options &options) {
    return ModelSettings{options.loops,
                         options.modules,
                         ProtocolSettings{options.fastStart, options.confirmLetters},
                         options.latency,
                         options.drift,
                         options.seed,
                         PaceOf(options)};
}

} // namespace

// The trace outlives the engine, so a test can read it after Stop().
struct Simulator::Running {
    explicit Running(const Options &options)
        : trace(options.traceToStderr ? stderr : nullptr, true) {
        engine.emplace(Line::PseudoTerminal(options.link), ModelSettingsOf(options), trace);
        for (const auto &command : options.commands)
            if (const auto answer = engine->Execute(command); answer.starts_with("error:"))
                throw std::runtime_error(std::string(command).append(": ").append(answer));
        thread = std::thread([this] { engine->Run(); });
    }

    ~Running() { Stop(); }

    void Stop() {
        if (!engine)
            return;
        engine->Stop();
        thread.join();
        engine.reset();
    }

    Trace trace;
    std::optional<Engine> engine;
    std::thread thread;
};

Simulator::Simulator(const Options &options) : running_(std::make_unique<Running>(options)) {}

Simulator::~Simulator() = default;

void Simulator::Stop() {
    running_->Stop();
}

std::string Simulator::SlavePath() const {
    return running_->engine ? running_->engine->PeerPath() : std::string();
}

std::string Simulator::Command(std::string_view line) {
    if (!running_->engine)
        throw std::runtime_error("the simulator has stopped");
    return running_->engine->Execute(line);
}

std::string Simulator::Get(std::string_view item) {
    std::string answer = Command("get " + std::string(item));
    if (answer.starts_with("error:"))
        throw std::runtime_error(answer);
    return answer;
}

void Simulator::ExpectOk(const std::string &line) {
    if (const std::string answer = Command(line); answer != "ok")
        throw std::runtime_error(line + ": " + answer);
}

void Simulator::Set(std::string_view item, std::string_view value) {
    ExpectOk("set " + std::string(item) + ' ' + std::string(value));
}

void Simulator::Fault(std::string_view rule) {
    ExpectOk("fault " + std::string(rule));
}

void Simulator::ClearFaults() {
    ExpectOk("clear");
}

void Simulator::AddAlert(std::string_view text) {
    ExpectOk("alert add " + std::string(text));
}

void Simulator::HangUp(std::chrono::milliseconds downTime) {
    ExpectOk("hangup " + std::to_string(downTime.count()));
}

std::vector<TraceEntry> Simulator::TraceEntries() const {
    return running_->trace.Entries();
}

std::string Simulator::TraceText() const {
    std::string text;
    for (const auto &entry : TraceEntries())
        text += FormatEntry(entry) + '\n';
    return text;
}

} // namespace em1sim
