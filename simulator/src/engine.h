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
    using LineOpened = std::function<void(const std::string &peerPath)>;

    Engine(Line line, const ModelSettings &settings, Trace &trace);
    ~Engine();
    Engine(const Engine &) = delete;
    Engine &operator=(const Engine &) = delete;

    void Listen(const std::string &controlPath);
    // Called on the loop's thread each time the line opens again after a hang-up.
    void OnLineOpened(LineOpened callback) { lineOpened_ = std::move(callback); }

    // Runs until Stop(); on one thread only.
    void Run();
    // From any thread, and from a signal handler.
    void Stop() noexcept;

    // A control command, from any thread.
    std::string Execute(std::string_view command);
    // The path a peer opens; empty while the line is down.
    std::string PeerPath() const;

  private:
    // A transmission starts at due; on a paced line its byte k goes out at due + (k + 1)
    // character times, and the next transmission starts once its last byte is out.
    struct Outgoing {
        Clock::time_point due;
        std::string bytes;
        std::optional<std::chrono::milliseconds> thenHangUp; // line down this long after
        std::size_t sent = 0;
    };
    // A hang-up that waits until the peer has taken the bytes sent before it: until they
    // have been seen waiting on the line and then gone, or until the deadline.
    struct PendingHangUp {
        std::chrono::milliseconds downTime;
        Clock::time_point deadline;
        bool seen = false;
    };

    timespec PollTimeout(Clock::time_point now) const;
    Clock::time_point NextByteDue(const Outgoing &outgoing) const;
    std::size_t BytesDue(const Outgoing &outgoing, Clock::time_point now) const;
    void Receive();
    void Frame(char byte);
    void Answer(const std::string &request, bool overflowed);
    std::optional<Reply> ForeignReply(const FaultRule *fault) const;
    void Schedule(const Delivery &delivery, Clock::time_point now);
    void SendDue(Clock::time_point now);
    void HangUp(std::chrono::milliseconds downTime, Clock::time_point now);
    void HangUpWhenTaken(Clock::time_point now);
    void ReopenIfDue(Clock::time_point now);
    void AdvanceProcess(Clock::time_point now);
    void TakeHangUpRequest(Clock::time_point now);
    void DrainWakePipe() const;

    Trace &trace_;
    mutable std::mutex mutex_;
    Model model_;
    Line line_;
    std::string peerPath_;
    std::unique_ptr<ControlServer> control_;
    LineOpened lineOpened_;

    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::atomic<bool> stopping_{false};

    std::string frame_;
    bool overflowed_ = false;
    std::chrono::nanoseconds characterTime_;
    std::vector<Outgoing> outbox_;
    std::optional<Clock::time_point> reopenAt_;
    std::optional<PendingHangUp> pendingHangUp_;
    Clock::time_point nextStep_;
};

} // namespace em1sim
