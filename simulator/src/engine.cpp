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

std::string DescribeFault(const FaultRule &rule, std::string_view request) {
    return "fault " + std::string(KindName(rule.kind)) + " on \"" + std::string(request) + "\"";
}

} // namespace

Engine::Engine(Line line, const ModelSettings &settings, Trace &trace)
    : trace_(trace), model_(settings), line_(std::move(line)), peerPath_(line_.PeerPath()),
      characterTime_(settings.characterTime), nextStep_(Clock::now() + kProcessStep) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::system_error(errno, std::generic_category(), "pipe");
    wakeRead_ = pipeFds[0];
    wakeWrite_ = pipeFds[1];
    trace_.Event("line open at " + peerPath_);
    model_.instrument.OnAssign([this](const Item &item, const std::string &value) {
        trace_.Event(std::string("holds ") + item.type + static_cast<char>('0' + item.number / 10) +
                     static_cast<char>('0' + item.number % 10) + item.letter + " " + value);
    });
}

Engine::~Engine() {
    ::close(wakeRead_);
    ::close(wakeWrite_);
}

void Engine::Listen(const std::string &controlPath) {
    control_ = std::make_unique<ControlServer>(controlPath);
    trace_.Event("control socket at " + controlPath);
}

void Engine::Stop() noexcept {
    stopping_ = true;
    const char byte = 0;
    [[maybe_unused]] const ssize_t written = ::write(wakeWrite_, &byte, 1);
}

std::string Engine::Execute(std::string_view command) {
    std::string answer;
    {
        const std::lock_guard lock(mutex_);
        answer = em1sim::Execute(model_, command);
    }
    const char byte = 0;
    [[maybe_unused]] const ssize_t written = ::write(wakeWrite_, &byte, 1);
    return answer;
}

std::string Engine::PeerPath() const {
    const std::lock_guard lock(mutex_);
    return peerPath_;
}

void Engine::Run() {
    while (!stopping_) {
        std::vector<pollfd> fds{pollfd{wakeRead_, POLLIN, 0}};
        if (line_.IsOpen())
            fds.push_back(pollfd{line_.Fd(), POLLIN, 0});
        if (control_)
            control_->Watch(fds);
        const timespec timeout = PollTimeout(Clock::now());
        if (::ppoll(fds.data(), fds.size(), &timeout, nullptr) < 0 && errno != EINTR)
            throw std::system_error(errno, std::generic_category(), "poll");
        DrainWakePipe();
        if (fds.size() > 1 && fds[1].fd == line_.Fd() && fds[1].revents != 0)
            Receive();
        if (control_)
            control_->Serve(fds, [this](std::string_view line) { return Execute(line); });
        const auto now = Clock::now();
        TakeHangUpRequest(now);
        SendDue(now);
        HangUpWhenTaken(now);
        ReopenIfDue(now);
        AdvanceProcess(now);
    }
}

// To the nanosecond, so that a paced line keeps its rate.
timespec Engine::PollTimeout(Clock::time_point now) const {
    Clock::time_point wake = nextStep_;
    if (!outbox_.empty())
        wake = std::min(wake, NextByteDue(outbox_.front()));
    if (reopenAt_)
        wake = std::min(wake, *reopenAt_);
    if (pendingHangUp_)
        wake = std::min(wake, now + kTakeCheck);
    const auto wait = std::max(std::chrono::nanoseconds(wake - now), std::chrono::nanoseconds(0));
    const auto seconds = std::chrono::floor<std::chrono::seconds>(wait);
    return timespec{static_cast<time_t>(seconds.count()),
                    static_cast<long>((wait - seconds).count())};
}

Engine::Clock::time_point Engine::NextByteDue(const Outgoing &outgoing) const {
    return outgoing.due + characterTime_ * static_cast<std::int64_t>(outgoing.sent + 1);
}

// The bytes whose time has come and that have not been sent; all of them on a line that is
// not paced.
std::size_t Engine::BytesDue(const Outgoing &outgoing, Clock::time_point now) const {
    if (characterTime_.count() == 0)
        return outgoing.bytes.size() - outgoing.sent;
    const auto outByNow = static_cast<std::size_t>((now - outgoing.due) / characterTime_);
    return std::min(outByNow, outgoing.bytes.size()) - outgoing.sent;
}

void Engine::DrainWakePipe() const {
    char buffer[64];
    while (::read(wakeRead_, buffer, sizeof buffer) > 0) {
    }
}

void Engine::Receive() {
    char buffer[512];
    for (;;) {
        const ssize_t count = ::read(line_.Fd(), buffer, sizeof buffer);
        if (count > 0) {
            std::for_each(buffer, buffer + count, [this](char byte) { Frame(byte); });
            continue;
        }
        if (count < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        trace_.Event(std::string("line error: ") +
                     (count == 0 ? "end of file" : std::strerror(errno)));
        const std::lock_guard lock(mutex_);
        HangUp(kRetryOpen, Clock::now());
        return;
    }
}

void Engine::Frame(char byte) {
    if (byte == '\r') {
        const std::string request = std::exchange(frame_, {});
        Answer(request, std::exchange(overflowed_, false));
    } else if (byte == '\n' && frame_.empty()) {
        return;
    } else if (frame_.size() < kMaxRequest) {
        frame_ += byte;
    } else {
        overflowed_ = true;
    }
}

void Engine::Answer(const std::string &request, bool overflowed) {
    trace_.Request(request + '\r');
    const auto now = Clock::now();
    const auto received = now + characterTime_ * static_cast<std::int64_t>(request.size() + 1);
    const std::lock_guard lock(mutex_);
    const auto fault = model_.faults.Take(request, model_.faultRandom);
    if (fault)
        trace_.Event(DescribeFault(*fault, request));
    const bool hangup = fault && fault->kind == FaultKind::kHangup;
    if (hangup && fault->bytes == 0) {
        HangUp(fault->delay, now);
        return;
    }
    if (fault && fault->kind == FaultKind::kSilence)
        return;
    const bool refused = overflowed || (fault && fault->kind == FaultKind::kRefuse);
    const auto reply =
        refused ? std::optional(model_.protocol.Refuse(request)) : model_.protocol.Answer(request);
    if (!reply) {
        if (hangup)
            HangUp(fault->delay, now);
        return;
    }
    const FaultRule *shaping = fault && (!refused || hangup) ? &*fault : nullptr;
    const auto foreign = ForeignReply(shaping);
    model_.previousReply = reply;
    Schedule(Deliver(*reply, shaping, model_.latency, model_.faultRandom, foreign), received);
}

// The other request's reply that a foreign fault sends first: the one named, or the reply to
// the request before this one.
std::optional<Reply> Engine::ForeignReply(const FaultRule *fault) const {
    if (fault == nullptr || fault->kind != FaultKind::kForeign)
        return std::nullopt;
    if (fault->foreignTo.empty())
        return model_.previousReply;
    return model_.protocol.Preview(fault->foreignTo);
}

// A hang-up that follows part of a reply goes with the last transmission.
void Engine::Schedule(const Delivery &delivery, Clock::time_point now) {
    const auto &transmissions = delivery.transmissions;
    for (std::size_t i = 0; i < transmissions.size(); ++i) {
        const bool last = i + 1 == transmissions.size();
        outbox_.push_back(Outgoing{now + transmissions[i].delay, transmissions[i].bytes,
                                   last ? delivery.hangUpFor : std::nullopt});
    }
    std::ranges::stable_sort(outbox_, {}, &Outgoing::due);
}

// A transmission is traced once its last byte is out, or once the line refuses a byte.
void Engine::SendDue(Clock::time_point now) {
    while (!outbox_.empty() && NextByteDue(outbox_.front()) <= now) {
        Outgoing &outgoing = outbox_.front();
        const std::size_t count = BytesDue(outgoing, now);
        const ssize_t written =
            line_.IsOpen() ? ::write(line_.Fd(), outgoing.bytes.data() + outgoing.sent, count) : -1;
        outgoing.sent += written > 0 ? static_cast<std::size_t>(written) : 0;
        const bool refused = written < static_cast<ssize_t>(count);
        if (!refused && outgoing.sent < outgoing.bytes.size())
            continue;
        trace_.Reply(std::string_view(outgoing.bytes).substr(0, outgoing.sent));
        if (refused)
            trace_.Event("line full: " + std::to_string(outgoing.bytes.size() - outgoing.sent) +
                         " bytes dropped");
        const auto thenHangUp = outgoing.thenHangUp;
        const auto lineFree =
            outgoing.due + characterTime_ * static_cast<std::int64_t>(outgoing.bytes.size());
        outbox_.erase(outbox_.begin());
        if (!outbox_.empty())
            outbox_.front().due = std::max(outbox_.front().due, lineFree);
        if (thenHangUp)
            pendingHangUp_ = PendingHangUp{*thenHangUp, now + kTakeWait};
    }
}

// The line goes down once the peer has read what was sent (on a device: once it has left),
// so the peer sees the reply break off rather than lose it in the hang-up.
void Engine::HangUpWhenTaken(Clock::time_point now) {
    if (!pendingHangUp_)
        return;
    const bool waiting = line_.Unread() > 0;
    pendingHangUp_->seen = pendingHangUp_->seen || waiting;
    if ((waiting || !pendingHangUp_->seen) && now < pendingHangUp_->deadline)
        return;
    const auto downTime = pendingHangUp_->downTime;
    const std::lock_guard lock(mutex_);
    HangUp(downTime, now);
}

void Engine::HangUp(std::chrono::milliseconds downTime, Clock::time_point now) {
    line_.Close();
    pendingHangUp_.reset();
    outbox_.clear();
    frame_.clear();
    peerPath_.clear();
    reopenAt_ = now + downTime;
    trace_.Event("hang-up: line closed for " + std::to_string(downTime.count()) + " ms");
}

void Engine::TakeHangUpRequest(Clock::time_point now) {
    const std::lock_guard lock(mutex_);
    if (const auto downTime = std::exchange(model_.hangUpRequest, std::nullopt))
        HangUp(*downTime, now);
}

void Engine::ReopenIfDue(Clock::time_point now) {
    if (!reopenAt_ || *reopenAt_ > now)
        return;
    try {
        line_.Open();
    } catch (const std::exception &error) {
        trace_.Event(std::string("cannot open the line: ") + error.what());
        reopenAt_ = now + kRetryOpen;
        return;
    }
    reopenAt_.reset();
    {
        const std::lock_guard lock(mutex_);
        peerPath_ = line_.PeerPath();
    }
    trace_.Event("line open at " + line_.PeerPath());
    if (lineOpened_)
        lineOpened_(line_.PeerPath());
}

void Engine::AdvanceProcess(Clock::time_point now) {
    const std::lock_guard lock(mutex_);
    while (nextStep_ <= now) {
        if (model_.drift)
            model_.instrument.Advance(model_.driftRandom);
        nextStep_ += kProcessStep;
    }
}

} // namespace em1sim
