#include "engine.h"

#include "commands.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace em1sim {
namespace {

using namespace std::chrono_literals;

constexpr std::size_t kMaxRequest = 590;
constexpr auto kProcessStep = 100ms;
constexpr auto kRetryOpen = 1000ms;
// How long a hang-up after part of a reply waits for the peer to take that part, and how
// often it looks.
constexpr auto kTakeWait = 1000ms;
constexpr auto kTakeCheck = 5ms;

std::string describe_fault(const FaultRule &rule, std::string_view request) {
    return "fault " + std::string(kind_name(rule.kind)) + " on \"" + std::string(request) + "\"";
}

} // namespace

Engine::Engine(Line line, const ModelSettings &settings, Trace &trace)
    : trace_(trace), model_(settings), line_(std::move(line)), peer_path_(line_.peer_path()),
      character_time_(settings.character_time), next_step_(Clock::now() + kProcessStep) {
    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::system_error(errno, std::generic_category(), "pipe");
    wake_read_ = pipe_fds[0];
    wake_write_ = pipe_fds[1];
    trace_.event("line open at " + peer_path_);
}

Engine::~Engine() {
    ::close(wake_read_);
    ::close(wake_write_);
}

void Engine::listen(const std::string &control_path) {
    control_ = std::make_unique<ControlServer>(control_path);
    trace_.event("control socket at " + control_path);
}

void Engine::stop() noexcept {
    stopping_ = true;
    const char byte = 0;
    [[maybe_unused]] const ssize_t written = ::write(wake_write_, &byte, 1);
}

std::string Engine::execute(std::string_view command) {
    std::string answer;
    {
        const std::lock_guard lock(mutex_);
        answer = em1sim::execute(model_, command);
    }
    const char byte = 0;
    [[maybe_unused]] const ssize_t written = ::write(wake_write_, &byte, 1);
    return answer;
}

std::string Engine::peer_path() const {
    const std::lock_guard lock(mutex_);
    return peer_path_;
}

void Engine::run() {
    while (!stopping_) {
        std::vector<pollfd> fds{pollfd{wake_read_, POLLIN, 0}};
        if (line_.is_open())
            fds.push_back(pollfd{line_.fd(), POLLIN, 0});
        if (control_)
            control_->watch(fds);
        const timespec timeout = poll_timeout(Clock::now());
        if (::ppoll(fds.data(), fds.size(), &timeout, nullptr) < 0 && errno != EINTR)
            throw std::system_error(errno, std::generic_category(), "poll");
        drain_wake_pipe();
        if (fds.size() > 1 && fds[1].fd == line_.fd() && fds[1].revents != 0)
            receive();
        if (control_)
            control_->serve(fds, [this](std::string_view line) { return execute(line); });
        const auto now = Clock::now();
        take_hang_up_request(now);
        send_due(now);
        hang_up_when_taken(now);
        reopen_if_due(now);
        advance_process(now);
    }
}

// To the nanosecond, so that a paced line keeps its rate.
timespec Engine::poll_timeout(Clock::time_point now) const {
    Clock::time_point wake = next_step_;
    if (!outbox_.empty())
        wake = std::min(wake, next_byte_due(outbox_.front()));
    if (reopen_at_)
        wake = std::min(wake, *reopen_at_);
    if (pending_hang_up_)
        wake = std::min(wake, now + kTakeCheck);
    const auto wait = std::max(std::chrono::nanoseconds(wake - now), std::chrono::nanoseconds(0));
    const auto seconds = std::chrono::floor<std::chrono::seconds>(wait);
    return timespec{static_cast<time_t>(seconds.count()),
                    static_cast<long>((wait - seconds).count())};
}

Engine::Clock::time_point Engine::next_byte_due(const Outgoing &outgoing) const {
    return outgoing.due + character_time_ * static_cast<std::int64_t>(outgoing.sent + 1);
}

// The bytes whose time has come and that have not been sent; all of them on a line that is
// not paced.
std::size_t Engine::bytes_due(const Outgoing &outgoing, Clock::time_point now) const {
    if (character_time_.count() == 0)
        return outgoing.bytes.size() - outgoing.sent;
    const auto out_by_now = static_cast<std::size_t>((now - outgoing.due) / character_time_);
    return std::min(out_by_now, outgoing.bytes.size()) - outgoing.sent;
}

void Engine::drain_wake_pipe() const {
    char buffer[64];
    while (::read(wake_read_, buffer, sizeof buffer) > 0) {
    }
}

void Engine::receive() {
    char buffer[512];
    for (;;) {
        const ssize_t count = ::read(line_.fd(), buffer, sizeof buffer);
        if (count > 0) {
            std::for_each(buffer, buffer + count, [this](char byte) { frame(byte); });
            continue;
        }
        if (count < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        trace_.event(std::string("line error: ") +
                     (count == 0 ? "end of file" : std::strerror(errno)));
        const std::lock_guard lock(mutex_);
        hang_up(kRetryOpen, Clock::now());
        return;
    }
}

void Engine::frame(char byte) {
    if (byte == '\r') {
        const std::string request = std::exchange(frame_, {});
        answer(request, std::exchange(overflowed_, false));
    } else if (byte == '\n' && frame_.empty()) {
        return;
    } else if (frame_.size() < kMaxRequest) {
        frame_ += byte;
    } else {
        overflowed_ = true;
    }
}

void Engine::answer(const std::string &request, bool overflowed) {
    trace_.request(request + '\r');
    const auto now = Clock::now();
    const auto received = now + character_time_ * static_cast<std::int64_t>(request.size() + 1);
    const std::lock_guard lock(mutex_);
    const auto fault = model_.faults.take(request, model_.fault_random);
    if (fault)
        trace_.event(describe_fault(*fault, request));
    const bool hangup = fault && fault->kind == FaultKind::Hangup;
    if (hangup && fault->bytes == 0) {
        hang_up(fault->delay, now);
        return;
    }
    if (fault && fault->kind == FaultKind::Silence)
        return;
    const bool refused = overflowed || (fault && fault->kind == FaultKind::Refuse);
    const auto reply =
        refused ? std::optional(model_.protocol.refuse(request)) : model_.protocol.answer(request);
    if (!reply) {
        if (hangup)
            hang_up(fault->delay, now);
        return;
    }
    const FaultRule *shaping = fault && (!refused || hangup) ? &*fault : nullptr;
    schedule(deliver(*reply, shaping, model_.latency, model_.fault_random), received);
}

// A hang-up that follows part of a reply goes with the last transmission.
void Engine::schedule(const Delivery &delivery, Clock::time_point now) {
    const auto &transmissions = delivery.transmissions;
    for (std::size_t i = 0; i < transmissions.size(); ++i) {
        const bool last = i + 1 == transmissions.size();
        outbox_.push_back(Outgoing{now + transmissions[i].delay, transmissions[i].bytes,
                                   last ? delivery.hang_up_for : std::nullopt});
    }
    std::ranges::stable_sort(outbox_, {}, &Outgoing::due);
}

// A transmission is traced once its last byte is out, or once the line refuses a byte.
void Engine::send_due(Clock::time_point now) {
    while (!outbox_.empty() && next_byte_due(outbox_.front()) <= now) {
        Outgoing &outgoing = outbox_.front();
        const std::size_t count = bytes_due(outgoing, now);
        const ssize_t written =
            line_.is_open() ? ::write(line_.fd(), outgoing.bytes.data() + outgoing.sent, count)
                            : -1;
        outgoing.sent += written > 0 ? static_cast<std::size_t>(written) : 0;
        const bool refused = written < static_cast<ssize_t>(count);
        if (!refused && outgoing.sent < outgoing.bytes.size())
            continue;
        trace_.reply(std::string_view(outgoing.bytes).substr(0, outgoing.sent));
        if (refused)
            trace_.event("line full: " + std::to_string(outgoing.bytes.size() - outgoing.sent) +
                         " bytes dropped");
        const auto then_hang_up = outgoing.then_hang_up;
        const auto line_free =
            outgoing.due + character_time_ * static_cast<std::int64_t>(outgoing.bytes.size());
        outbox_.erase(outbox_.begin());
        if (!outbox_.empty())
            outbox_.front().due = std::max(outbox_.front().due, line_free);
        if (then_hang_up)
            pending_hang_up_ = HangUpWhenTaken{*then_hang_up, now + kTakeWait};
    }
}

// The line goes down once the peer has read what was sent (on a device: once it has left),
// so the peer sees the reply break off rather than lose it in the hang-up.
void Engine::hang_up_when_taken(Clock::time_point now) {
    if (!pending_hang_up_)
        return;
    const bool waiting = line_.unread() > 0;
    pending_hang_up_->seen = pending_hang_up_->seen || waiting;
    if ((waiting || !pending_hang_up_->seen) && now < pending_hang_up_->deadline)
        return;
    const auto down_time = pending_hang_up_->down_time;
    const std::lock_guard lock(mutex_);
    hang_up(down_time, now);
}

void Engine::hang_up(std::chrono::milliseconds down_time, Clock::time_point now) {
    line_.close();
    pending_hang_up_.reset();
    outbox_.clear();
    frame_.clear();
    peer_path_.clear();
    reopen_at_ = now + down_time;
    trace_.event("hang-up: line closed for " + std::to_string(down_time.count()) + " ms");
}

void Engine::take_hang_up_request(Clock::time_point now) {
    const std::lock_guard lock(mutex_);
    if (const auto down_time = std::exchange(model_.hang_up_request, std::nullopt))
        hang_up(*down_time, now);
}

void Engine::reopen_if_due(Clock::time_point now) {
    if (!reopen_at_ || *reopen_at_ > now)
        return;
    try {
        line_.open();
    } catch (const std::exception &error) {
        trace_.event(std::string("cannot open the line: ") + error.what());
        reopen_at_ = now + kRetryOpen;
        return;
    }
    reopen_at_.reset();
    {
        const std::lock_guard lock(mutex_);
        peer_path_ = line_.peer_path();
    }
    trace_.event("line open at " + line_.peer_path());
    if (line_opened_)
        line_opened_(line_.peer_path());
}

void Engine::advance_process(Clock::time_point now) {
    const std::lock_guard lock(mutex_);
    while (next_step_ <= now) {
        if (model_.drift)
            model_.instrument.advance(model_.drift_random);
        next_step_ += kProcessStep;
    }
}

} // namespace em1sim
