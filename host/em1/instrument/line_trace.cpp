#include "line_trace.h"

#include "em_vocabulary.h"
#include "failure.h"
#include "platform.h"
#include "serial/byte_escape.h"
#include "serial/trace_grammar.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace {

constexpr const char *kTraceVariable = "EM_TRACE";
// A private trace is emptied beyond this size: a few thousand exchanges.
constexpr long long kPrivateTraceBound = 1 << 20;

// What em1 does when it cannot read the trace, said once for every such failure.
constexpr const char *kNothingReported =
    "; em1 cannot tell what happened on the line, and reports nothing it cannot know";

[[noreturn]] void Unreadable(const std::string &what) {
    throw Failure(FailureKind::kTraceUnreadable, what + kNothingReported);
}

std::string Unescaped(std::string_view text) {
    std::string bytes(text.size(), '\0');
    std::size_t count = 0;
    UnescapeTraceText(text, reinterpret_cast<unsigned char *>(bytes.data()), count);
    bytes.resize(count);
    return bytes;
}

LineEvent::Kind KindOf(TraceTag tag) {
    switch (tag) {
    case TraceTag::kSent:
        return LineEvent::Kind::kSent;
    case TraceTag::kReceived:
        return LineEvent::Kind::kReceived;
    case TraceTag::kPurged:
        return LineEvent::Kind::kPurged;
    default:
        return LineEvent::Kind::kEvent;
    }
}

bool IsEvent(const LineEvent &event, std::string_view word) {
    return event.kind == LineEvent::Kind::kEvent && TraceEventIs(event.bytes, word);
}

// The last request that was not the status request after a refusal, the reply to it, and
// the replies the driver threw away as answers to other requests: the bytes received before
// each foreign-reply event.
struct LastExchange {
    bool sent = false;
    std::string request;
    std::string reply;
    std::string foreign;
};

LastExchange LastExchangeOf(const std::vector<LineEvent> &events) {
    LastExchange last;
    bool current = false;
    for (const auto &event : events) {
        if (event.kind == LineEvent::Kind::kSent) {
            current = event.bytes != kStatusRequest;
            if (current) {
                last = LastExchange{true, event.bytes, {}, {}};
            }
        } else if (event.kind == LineEvent::Kind::kReceived && current) {
            last.reply += event.bytes;
        } else if (current && IsEvent(event, kForeignReplyEvent)) {
            last.foreign += last.reply;
            last.reply.clear();
        }
    }
    return last;
}

} // namespace

LineTrace::LineTrace(const std::string &file) {
    if (!file.empty()) {
        if (const std::string problem = TraceFileProblem(file); !problem.empty()) {
            throw UsageError("--trace: the line trace cannot be written to '" + file +
                             "': " + problem);
        }
        path_ = file;
        std::ifstream existing(path_, std::ios::binary | std::ios::ate);
        offset_ = existing ? static_cast<long long>(existing.tellg()) : 0;
    } else {
        path_ = MakePrivateFile();
        owned_ = true;
        if (path_.empty()) {
            Unreadable("no private file for the driver's line trace can be made in the "
                       "temporary folder (give one with --trace FILE)");
        }
    }
    if (!SetEnvironment(kTraceVariable, path_.c_str())) {
        Unreadable("cannot set " + std::string(kTraceVariable));
    }
}

LineTrace::~LineTrace() {
    if (owned_ && !follower_) {
        std::remove(path_.c_str());
    }
}

std::unique_ptr<LineTrace> LineTrace::Follow() const {
    std::unique_ptr<LineTrace> follower(new LineTrace());
    follower->path_ = path_;
    follower->owned_ = owned_;
    follower->follower_ = true;
    follower->shared_ = shared_;
    const CallHold hold(*this);
    std::error_code error;
    const auto size = std::filesystem::file_size(path_, error);
    follower->offset_ = error ? 0 : static_cast<long long>(size);
    follower->generation_ = shared_->generation;
    return follower;
}

LineTrace::CallHold::CallHold(const LineTrace &trace) : trace_(trace) {
    Shared &shared = *trace_.shared_;
    std::unique_lock<std::mutex> hold(shared.lock);
    shared.changed.wait(hold, [&shared] { return !shared.emptying; });
    ++shared.calls;
}

LineTrace::CallHold::~CallHold() {
    Shared &shared = *trace_.shared_;
    const std::lock_guard<std::mutex> hold(shared.lock);
    --shared.calls;
    shared.changed.notify_all();
}

void LineTrace::Trim() {
    if (!owned_ || offset_ < kPrivateTraceBound) {
        return;
    }
    Shared &shared = *shared_;
    std::unique_lock<std::mutex> hold(shared.lock);
    if (shared.emptying || generation_ != shared.generation) {
        return; // another reader empties it, or has just done so
    }
    shared.emptying = true;
    shared.changed.wait(hold, [&shared] { return shared.calls == 0; });
    std::error_code error;
    std::filesystem::resize_file(path_, 0, error);
    ++shared.generation;
    shared.emptying = false;
    shared.changed.notify_all();
}

bool LineTrace::Read(const std::string &line, const std::string &port, LineEvent &event) {
    unsigned version = 0;
    TraceEntry entry;
    switch (ReadTraceLine(line, version, entry)) {
    case TraceLineKind::kVersion:
        if (version != kTraceVersion) {
            throw Failure(FailureKind::kTraceUnknown,
                          "the driver's line trace " + path_ + " is of version " +
                              std::to_string(version) + ", and this em1 reads version " +
                              std::to_string(kTraceVersion) +
                              " (use the driver that came with em1)" + kNothingReported);
        }
        versionSeen_ = true;
        return false;
    case TraceLineKind::kMalformed:
        Unreadable("the driver's line trace " + path_ + " holds a line em1 cannot read: \"" +
                   Escaped(line) + "\"");
    default:
        break;
    }
    if (!TracePortIs(entry.port, port.c_str())) {
        return false;
    }
    if (!versionSeen_) {
        throw Failure(FailureKind::kTraceUnknown,
                      "the driver's line trace " + path_ + " names no version before the lines " +
                          "of port " + port + " (use the driver that came with em1)" +
                          kNothingReported);
    }
    event.kind = KindOf(entry.tag);
    event.bytes = entry.tag == TraceTag::kEvent ? std::string(entry.text) : Unescaped(entry.text);
    event.line = line;
    return true;
}

std::vector<LineEvent> LineTrace::TakeNew(const std::string &port) {
    std::vector<LineEvent> events;
    if (generation_ != shared_->generation) {
        // Emptied since the last call; whatever stood before was taken by its readers.
        generation_ = shared_->generation;
        offset_ = 0;
    }
    std::ifstream in(path_, std::ios::binary);
    if (!in || !in.seekg(offset_)) {
        Unreadable("cannot read the driver's line trace " + path_);
    }
    std::string line;
    while (std::getline(in, line)) {
        if (in.eof()) {
            break; // a line still being written: taken whole next time
        }
        offset_ += static_cast<long long>(line.size()) + 1;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        LineEvent event;
        if (Read(line, port, event)) {
            events.push_back(std::move(event));
        }
    }
    return events;
}

bool ReplyToLastRequest(const std::vector<LineEvent> &events, std::string &request,
                        std::string &reply) {
    const LastExchange last = LastExchangeOf(events);
    request = last.request;
    reply = last.reply;
    return last.sent;
}

std::string ForeignRepliesToLastRequest(const std::vector<LineEvent> &events) {
    return LastExchangeOf(events).foreign;
}

bool PortFailed(const std::vector<LineEvent> &events) {
    for (const auto &event : events) {
        if (IsEvent(event, kReadFailedEvent) || IsEvent(event, kWriteFailedEvent)) {
            return true;
        }
    }
    return false;
}

std::optional<bool> OpenedByTrace(const std::vector<LineEvent> &events) {
    std::optional<bool> open;
    for (const auto &event : events) {
        if (IsEvent(event, kOpenEvent)) {
            open = true;
        } else if (IsEvent(event, kCloseEvent)) {
            open = false;
        }
    }
    return open;
}

std::string Escaped(const std::string &bytes) {
    std::string text;
    for (const char c : bytes) {
        char shown[kEscapeMax];
        text.append(shown, EscapeByte(static_cast<unsigned char>(c), shown));
    }
    return text;
}
