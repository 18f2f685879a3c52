// The scripted instrument and the serial operations that reach it.
#include "scripted_line.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

namespace {

constexpr std::uint32_t kMaxReadRequest = 0xFFFF;

// Virtual time that the tests before the last Reset covered.
std::uint64_t earlierVirtualMs = 0;

// With EM_VIRTUAL_TIME_FILE set, appends the virtual milliseconds that this test program
// covered to that file when it exits, so the protocol time that the tests stand for can be
// set against the real time they take.
void ReportVirtualTime() {
    const char *path = std::getenv("EM_VIRTUAL_TIME_FILE");
    if (path == nullptr || *path == '\0') {
        return;
    }
    if (std::FILE *file = std::fopen(path, "a")) {
        const std::uint64_t total = earlierVirtualMs + ScriptedLine::Instance().Now();
        std::fprintf(file, "%llu\n", static_cast<unsigned long long>(total));
        std::fclose(file);
    }
}

std::string NameOf(const PortSettings &settings) {
    const char *name = settings.portName;
    return {name, std::find(name, name + sizeof settings.portName, '\0')};
}

} // namespace

std::string Printable(const std::string &bytes) {
    std::string text;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\r') {
            text += "\\r";
        } else if (c == '\n') {
            text += "\\n";
        } else if (byte < 0x20 || byte >= 0x7F) {
            char escape[5];
            std::snprintf(escape, sizeof escape, "\\x%02X", byte);
            text += escape;
        } else {
            text += c;
        }
    }
    return text;
}

ScriptStep &ScriptStep::Reply(std::string bytes) {
    parts_.push_back(Part{0, std::move(bytes)});
    return *this;
}

ScriptStep &ScriptStep::After(std::uint64_t ms) {
    if (!parts_.empty()) {
        parts_.back().delayMs = ms;
    }
    return *this;
}

// The report is registered after the line exists, so it runs while the line still does.
SerialResult ScriptedLine::OpenReady(DriverState &state) {
    const PortSettings settings{"ttyS1", {9600, 8, 0, 0}, 0x0200};
    const SerialResult result = SerialOpen(settings, state.portHandle);
    state.replyTerminator = 3;
    state.enabled = 1;
    return result;
}

ScriptedLine &ScriptedLine::Instance() {
    static ScriptedLine line;
    static const bool reportsAtExit = std::atexit(ReportVirtualTime) == 0;
    static_cast<void>(reportsAtExit);
    return line;
}

void ScriptedLine::Reset() {
    earlierVirtualMs += nowMs_;
    *this = ScriptedLine();
}

ScriptStep &ScriptedLine::Expect(std::string request) {
    return script_.emplace_back(std::move(request));
}

ScriptStep &ScriptedLine::ExpectAny() {
    return script_.emplace_back(ScriptStep::AnyRequest());
}

void ScriptedLine::Arrive(std::string bytes, std::uint64_t atMs) {
    const auto later = std::upper_bound(
        arrivals_.begin(), arrivals_.end(), atMs,
        [](std::uint64_t at, const Arrival &arrival) { return at < arrival.atMs; });
    arrivals_.insert(later, Arrival{atMs, std::move(bytes)});
}

std::uint32_t ScriptedLine::Waiting() const {
    std::uint32_t waiting = 0;
    for (const Arrival &arrival : arrivals_) {
        if (arrival.atMs > nowMs_) {
            break;
        }
        waiting += static_cast<std::uint32_t>(arrival.bytes.size());
    }
    return waiting;
}

std::int32_t ScriptedLine::ReadTimeoutMs(SerialHandle handle) const {
    const Port *port = Find(handle);
    return port == nullptr ? -1 : port->timeoutMs;
}

ScriptedLine::Port *ScriptedLine::Find(SerialHandle handle) {
    const auto found = ports_.find(handle);
    return found == ports_.end() ? nullptr : &found->second;
}

const ScriptedLine::Port *ScriptedLine::Find(SerialHandle handle) const {
    const auto found = ports_.find(handle);
    return found == ports_.end() ? nullptr : &found->second;
}

// The null device, like a closed port, has no timeouts to change.
std::int32_t ScriptedLine::ChangeTimeout(SerialHandle handle, std::int32_t timeout) {
    Port *port = Find(handle);
    if (port == nullptr || port->nullDevice || failTimeouts_) {
        return 0;
    }
    const std::int32_t previous = port->timeoutMs;
    port->timeoutMs = std::clamp(timeout, std::int32_t{0}, kMaxTimeoutUnits) * 10;
    return previous / 10;
}

std::uint32_t ScriptedLine::TakeArrived(unsigned char *buffer, std::uint32_t count) {
    std::uint32_t taken = 0;
    while (taken < count && !arrivals_.empty() && arrivals_.front().atMs <= nowMs_) {
        std::string &bytes = arrivals_.front().bytes;
        const auto n = std::min<std::size_t>(bytes.size(), count - taken);
        std::copy_n(bytes.begin(), n, buffer + taken);
        taken += static_cast<std::uint32_t>(n);
        bytes.erase(0, n);
        if (bytes.empty()) {
            arrivals_.pop_front();
        }
    }
    return taken;
}

// Waits on the virtual clock until count bytes have arrived or the timeout has run out.
std::uint32_t ScriptedLine::ReadWithin(unsigned char *buffer, std::uint32_t count,
                                       std::int32_t timeoutMs) {
    const std::uint64_t deadline = nowMs_ + static_cast<std::uint64_t>(timeoutMs);
    std::uint32_t got = TakeArrived(buffer, count);
    while (got < count) {
        if (arrivals_.empty() || arrivals_.front().atMs > deadline) {
            nowMs_ = deadline;
            break;
        }
        nowMs_ = std::max(nowMs_, arrivals_.front().atMs);
        got += TakeArrived(buffer + got, count - got);
    }
    return got;
}

void ScriptedLine::Answer(const std::string &request) {
    if (!script_.empty() && script_.front().Matches(request)) {
        for (const ScriptStep::Part &part : script_.front().Parts()) {
            Arrive(part.bytes, nowMs_ + part.delayMs);
        }
        script_.pop_front();
        return;
    }
    unexpected_.push_back(request);
    if (!defaultReply_.empty()) {
        Arrive(defaultReply_, nowMs_);
    }
}

SerialResult ScriptedLine::Open(const PortSettings &settings, SerialHandle &handle) {
    opens_.push_back(settings);
    Record("open " + Printable(NameOf(settings)));
    handle = 0;
    if (openFailure_ != SerialResult::kOk) {
        return std::exchange(openFailure_, SerialResult::kOk);
    }
    if (!PortNameFits(settings.portName)) {
        return SerialResult::kOpenFailed;
    }
    handle = nextHandle_++;
    ports_[handle] = Port{kFreshPortTimeoutMs, std::strcmp(settings.portName, "NUL") == 0};
    return SerialResult::kOk;
}

SerialResult ScriptedLine::Close(SerialHandle handle) {
    closes_.push_back(handle);
    Record("close");
    if (std::exchange(failClose_, false)) {
        if (closeReleases_) {
            ports_.erase(handle);
        }
        return SerialResult::kIoFailed;
    }
    if (ports_.erase(handle) != 1) {
        return SerialResult::kIoFailed;
    }
    if (std::exchange(handOutClosed_, false)) {
        ports_[handle] = Port{kFreshPortTimeoutMs, false};
    }
    return SerialResult::kOk;
}

std::int32_t ScriptedLine::SetReadTimeout(SerialHandle handle, std::int32_t timeout) {
    timeouts_.push_back(timeout);
    Record("timeout " + std::to_string(timeout));
    return ChangeTimeout(handle, timeout);
}

// Nothing waiting: no read and no time. Otherwise drains as the platform does: reads of
// 512 bytes with a 50 ms timeout until one comes up short.
SerialResult ScriptedLine::Purge(SerialHandle handle) {
    purges_.push_back(nowMs_);
    Record("purge");
    const Port *port = Find(handle);
    if (port == nullptr) {
        return SerialResult::kDrainFailed;
    }
    if (port->nullDevice || Waiting() == 0) {
        return SerialResult::kOk;
    }
    const std::int32_t previous = ChangeTimeout(handle, kDrainTimeout);
    unsigned char scratch[kDrainChunk];
    while (ReadWithin(scratch, kDrainChunk, Find(handle)->timeoutMs) == kDrainChunk) {
    }
    if (previous != 0) {
        ChangeTimeout(handle, previous);
    }
    return SerialResult::kOk;
}

SerialResult ScriptedLine::Break(std::uint32_t ms, SerialHandle /*handle*/) {
    Record("break " + std::to_string(ms));
    nowMs_ += ms;
    return SerialResult::kOk;
}

SerialResult ScriptedLine::Write(SerialHandle handle, const void *bytes, std::uint32_t count,
                                 std::uint32_t *written) {
    const Port *port = Find(handle);
    const int shortCount = std::exchange(shortWrite_, -1);
    const bool lineGone = writeCalls_++ >= failWritesAfter_;
    if (std::exchange(failWrite_, false) || lineGone || port == nullptr ||
        (bytes == nullptr && count > 0)) {
        Record("write failed");
        return SerialResult::kIoFailed;
    }
    const std::uint32_t out =
        shortCount < 0 ? count : std::min(count, static_cast<std::uint32_t>(shortCount));
    const std::string sent(static_cast<const char *>(bytes), out);
    if (written != nullptr) {
        *written = out;
    }
    if (out > 0) {
        writes_.push_back(Sent{nowMs_, sent});
        Record("write " + Printable(sent));
        if (!port->nullDevice) {
            Answer(sent);
        }
    }
    return out == count ? SerialResult::kOk : SerialResult::kShortWrite;
}

SerialResult ScriptedLine::Read(SerialHandle handle, void *buffer, std::uint32_t count,
                                std::uint32_t *read) {
    if (read != nullptr) {
        *read = 0;
    }
    const Port *port = Find(handle);
    if (std::exchange(failRead_, false) || port == nullptr || (buffer == nullptr && count > 0)) {
        return SerialResult::kIoFailed;
    }
    auto *bytes = static_cast<unsigned char *>(buffer);
    std::uint32_t total = 0;
    while (total < count) {
        const std::uint32_t ask = std::min(count - total, kMaxReadRequest);
        const std::uint32_t got =
            port->nullDevice ? 0 : ReadWithin(bytes + total, ask, port->timeoutMs);
        if (got == 0) {
            return SerialResult::kIoFailed;
        }
        total += got;
        if (read != nullptr) {
            *read = total;
        }
    }
    return SerialResult::kOk;
}

SerialResult ScriptedLine::Pause(std::uint32_t ms) {
    pauses_.push_back(ms);
    Record("pause " + std::to_string(ms));
    nowMs_ += ms;
    return SerialResult::kOk;
}

void ScriptedLine::TraceEvent(SerialHandle handle, const char *event) {
    if (Find(handle) != nullptr) {
        Record(std::string("event ") + event);
    }
}

std::uint32_t ScriptedLine::Queued(SerialHandle handle) const {
    const Port *port = Find(handle);
    return port == nullptr || port->nullDevice ? 0 : Waiting();
}

SerialResult SerialOpen(const PortSettings &settings, SerialHandle &handle) {
    return ScriptedLine::Instance().Open(settings, handle);
}
SerialResult SerialClose(SerialHandle handle) {
    return ScriptedLine::Instance().Close(handle);
}
bool SerialHolds(SerialHandle handle) {
    return ScriptedLine::Instance().Holds(handle);
}
std::int32_t SerialSetReadTimeout(SerialHandle handle, std::int32_t timeout) {
    return ScriptedLine::Instance().SetReadTimeout(handle, timeout);
}
SerialResult SerialPurge(SerialHandle handle) {
    return ScriptedLine::Instance().Purge(handle);
}
SerialResult SerialBreak(std::uint32_t ms, SerialHandle handle) {
    return ScriptedLine::Instance().Break(ms, handle);
}
SerialResult SerialWrite(SerialHandle handle, const void *bytes, std::uint32_t count,
                         std::uint32_t *written) {
    return ScriptedLine::Instance().Write(handle, bytes, count, written);
}
SerialResult SerialRead(SerialHandle handle, void *buffer, std::uint32_t count,
                        std::uint32_t *read) {
    return ScriptedLine::Instance().Read(handle, buffer, count, read);
}
SerialResult SerialPause(std::uint32_t ms) {
    return ScriptedLine::Instance().Pause(ms);
}
std::uint32_t BytesQueued(SerialHandle handle) {
    return ScriptedLine::Instance().Queued(handle);
}
void SerialTraceEvent(SerialHandle handle, const char *event) {
    ScriptedLine::Instance().TraceEvent(handle, event);
}
