// The EM-1 instrument simulator, run in-process for tests: it answers on a fresh
// pseudo-terminal from a thread of its own until stopped or destroyed.
//
//     em1sim::Simulator simulator;                 // line open, answering
//     open(simulator.SlavePath().c_str(), ...);    // the peer's serial port
//     simulator.Set("L01S", "12.5");
//     simulator.Fault("L01S? silence count=1");
//     simulator.TraceEntries();                    // every request, reply and event
//
// Command() speaks the control language of the em1sim program ("get L01S", "fault ...",
// "alert add CC", "hangup 300", ...); the other members are shorthands for it that throw
// std::runtime_error when the simulator answers with an error.
#pragma once

#include "em1sim/trace_entry.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace em1sim {

struct Options {
    bool fastStart = true;                // "S?" answers "***" before "SI"
    std::string confirmLetters = "PID";   // writes to these letters ask for "Y"
    int loops = 29;                       // 1 to 29
    int modules = 35;                     // 0 to 35
    std::chrono::milliseconds latency{0}; // before every reply
    bool drift = false;                   // measured values move with time
    std::uint32_t seed = 1;               // drift noise, fault rates, garbage bytes
    std::string link;                     // a symbolic link to the slave, kept across hang-ups
    std::vector<std::string> commands;    // control commands run before the line answers
    bool traceToStderr = false;           // besides keeping the trace for TraceEntries()
    // A pseudo-terminal delivers bytes at once; pace sends them no faster than a line of this
    // rate and framing would (a start bit, the data bits, a parity bit unless parity is 'N',
    // the stop bits), and answers a request once its last byte would have arrived.
    bool pace = false;
    int baud = 9600;
    int dataBits = 8;
    char parity = 'N'; // N, E, O, M (mark) or S (space)
    int stopBits = 1;
};

class Simulator {
  public:
    // Opens the pseudo-terminal and starts answering; throws std::system_error when the line
    // cannot be opened, std::invalid_argument for pace settings that no line has, and
    // std::runtime_error when one of options.commands fails.
    explicit Simulator(const Options &options = {});
    ~Simulator();
    Simulator(const Simulator &) = delete;
    Simulator &operator=(const Simulator &) = delete;

    // The slave's path; empty while the line is hung up. After a hang-up the path is new
    // unless no peer held the old line open.
    std::string SlavePath() const;

    // One control command; the answer line ("ok", a value, or "error: ...").
    std::string Command(std::string_view line);

    std::string Get(std::string_view item);                  // Get("L01S") == "26.0"
    void Set(std::string_view item, std::string_view value); // Set("L01M", "MANUAL")
    void Fault(std::string_view rule);                       // Fault("L01S? late delay=1500")
    void ClearFaults();
    void AddAlert(std::string_view text);
    // Closes the line and opens a new pseudo-terminal after downTime; state is kept.
    void HangUp(std::chrono::milliseconds downTime);

    std::vector<TraceEntry> TraceEntries() const;
    // The trace as the program writes it, one line per entry.
    std::string TraceText() const;

    // Stops answering and closes the line (the trace stays readable); also done by the
    // destructor.
    void Stop();

  private:
    void ExpectOk(const std::string &line);

    struct Running;
    std::unique_ptr<Running> running_;
};

} // namespace em1sim
