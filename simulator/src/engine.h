// The simulator's loop: one thread polls the line, the control socket and a wake-up pipe;
// frames requests by "\r", answers them through the model, and sends replies when due.
#pragma once

#include "control_server.h"
#include "line.h"
#include "model.h"
#include "trace.h"

#include <atomic>
#include <chrono>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace em1sim {

class Engine {
  public:
    using Clock = std::chrono::steady_clock;
    using LineOpened = std::function<void(const std::string &peer_path)>;

    Engine(Line line, const ModelSettings &settings, Trace &trace);
    ~Engine();
    Engine(const Engine &) = delete;
    Engine &operator=(const Engine &) = delete;

    void listen(const std::string &control_path);
    // Called on the loop's thread each time the line opens again after a hang-up.
    void on_line_opened(LineOpened callback) { line_opened_ = std::move(callback); }

    // Runs until stop(); on one thread only.
    void run();
    // From any thread, and from a signal handler.
    void stop() noexcept;

    // A control command, from any thread.
    std::string execute(std::string_view command);
    // The path a peer opens; empty while the line is down.
    std::string peer_path() const;

  private:
    // A transmission starts at due; on a paced line its byte k goes out at due + (k + 1)
    // character times, and the next transmission starts once its last byte is out.
    struct Outgoing {
        Clock::time_point due;
        std::string bytes;
        std::optional<std::chrono::milliseconds> then_hang_up; // line down this long after
        std::size_t sent = 0;
    };
    // A hang-up that waits until the peer has taken the bytes sent before it: until they
    // have been seen waiting on the line and then gone, or until the deadline.
    struct HangUpWhenTaken {
        std::chrono::milliseconds down_time;
        Clock::time_point deadline;
        bool seen = false;
    };

    timespec poll_timeout(Clock::time_point now) const;
    Clock::time_point next_byte_due(const Outgoing &outgoing) const;
    std::size_t bytes_due(const Outgoing &outgoing, Clock::time_point now) const;
    void receive();
    void frame(char byte);
    void answer(const std::string &request, bool overflowed);
    void schedule(const Delivery &delivery, Clock::time_point now);
    void send_due(Clock::time_point now);
    void hang_up(std::chrono::milliseconds down_time, Clock::time_point now);
    void hang_up_when_taken(Clock::time_point now);
    void reopen_if_due(Clock::time_point now);
    void advance_process(Clock::time_point now);
    void take_hang_up_request(Clock::time_point now);
    void drain_wake_pipe() const;

    Trace &trace_;
    mutable std::mutex mutex_;
    Model model_;
    Line line_;
    std::string peer_path_;
    std::unique_ptr<ControlServer> control_;
    LineOpened line_opened_;

    int wake_read_ = -1;
    int wake_write_ = -1;
    std::atomic<bool> stopping_{false};

    std::string frame_;
    bool overflowed_ = false;
    std::chrono::nanoseconds character_time_;
    std::vector<Outgoing> outbox_;
    std::optional<Clock::time_point> reopen_at_;
    std::optional<HangUpWhenTaken> pending_hang_up_;
    Clock::time_point next_step_;
};

} // namespace em1sim
