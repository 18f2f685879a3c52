// The EM-1 instrument simulator, run in-process for tests: it answers on a fresh
// pseudo-terminal from a thread of its own until stopped or destroyed.
//
//     em1sim::Simulator simulator;                 // line open, answering
//     open(simulator.slave_path().c_str(), ...);   // the peer's serial port
//     simulator.set("L01S", "12.5");
//     simulator.fault("L01S? silence count=1");
//     simulator.trace();                           // every request, reply and event
//
// command() speaks the control language of the em1sim program ("get L01S", "fault ...",
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
    bool fast_start = true;               // "S?" answers "***" before "SI"
    std::string confirm_letters = "PID";  // writes to these letters ask for "Y"
    int loops = 29;                       // 1 to 29
    int modules = 35;                     // 0 to 35
    std::chrono::milliseconds latency{0}; // before every reply
    bool drift = false;                   // measured values move with time
    std::uint32_t seed = 1;               // drift noise, fault rates, garbage bytes
    std::string link;                     // a symbolic link to the slave, kept across hang-ups
    std::vector<std::string> commands;    // control commands run before the line answers
    bool trace_to_stderr = false;         // besides keeping the trace for trace()
    // A pseudo-terminal delivers bytes at once; pace sends them no faster than a line of this
    // rate and framing would (a start bit, the data bits, a parity bit unless parity is 'N',
    // the stop bits), and answers a request once its last byte would have arrived.
    bool pace = false;
    int baud = 9600;
    int data_bits = 8;
    char parity = 'N'; // N, E, O, M (mark) or S (space)
    int stop_bits = 1;
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
    std::string slave_path() const;

    // One control command; the answer line ("ok", a value, or "error: ...").
    std::string command(std::string_view line);

    std::string get(std::string_view item);                  // get("L01S") == "26.0"
    void set(std::string_view item, std::string_view value); // set("L01M", "MANUAL")
    void fault(std::string_view rule);                       // fault("L01S? late delay=1500")
    void clear_faults();
    void add_alert(std::string_view text);
    // Closes the line and opens a new pseudo-terminal after down_time; state is kept.
    void hang_up(std::chrono::milliseconds down_time);

    std::vector<TraceEntry> trace() const;
    // The trace as the program writes it, one line per entry.
    std::string trace_text() const;

    // Stops answering and closes the line (the trace stays readable); also done by the
    // destructor.
    void stop();

  private:
    void expect_ok(const std::string &line);

    struct Running;
    std::unique_ptr<Running> running_;
};

} // namespace em1sim
