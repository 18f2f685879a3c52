#include "line_trace.h"

#include "em_line_trace.h"
#include "exit_status.h"
#include "platform.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace {

constexpr const char *kTraceVariable = "EM_TRACE";
// A private trace is emptied beyond this size: a few thousand exchanges.
constexpr long long kPrivateTraceBound = 1 << 20;

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// The bytes of a quoted trace payload: "L01S?\r" with \r \n \t \\ \" and \xHH.
std::string Unescaped(const std::string &quoted) {
    std::string bytes;
    const std::size_t end = quoted.size() > 1 && quoted.back() == '"' ? quoted.size() - 1 : 0;
    for (std::size_t i = 1; i < end; ++i) {
        if (quoted[i] != '\\' || i + 1 >= end) {
            bytes += quoted[i];
            continue;
        }
        const char code = quoted[++i];
        if (code == 'x' && i + 2 < end && HexDigit(quoted[i + 1]) >= 0 &&
            HexDigit(quoted[i + 2]) >= 0) {
            bytes += static_cast<char>(HexDigit(quoted[i + 1]) * 16 + HexDigit(quoted[i + 2]));
            i += 2;
        } else {
            bytes += code == 'r' ? '\r' : code == 'n' ? '\n' : code == 't' ? '\t' : code;
        }
    }
    return bytes;
}

// "TIME PORT KIND PAYLOAD": the event of a line of this port, or false.
bool ParseLine(const std::string &line, const std::string &port, LineEvent &event) {
    const std::size_t afterTime = line.find(' ');
    if (afterTime == std::string::npos || line.compare(afterTime + 1, port.size(), port) != 0 ||
        line.size() <= afterTime + port.size() + 2 || line[afterTime + port.size() + 1] != ' ') {
        return false;
    }
    const std::string rest = line.substr(afterTime + port.size() + 2);
    const std::size_t space = rest.find(' ');
    const std::string kind = rest.substr(0, space);
    const std::string payload = space == std::string::npos ? "" : rest.substr(space + 1);
    event.line = line;
    if (kind == "TX" || kind == "RX" || kind == "PURGED") {
        event.kind = kind == "TX"   ? LineEvent::Kind::kSent
                     : kind == "RX" ? LineEvent::Kind::kReceived
                                    : LineEvent::Kind::kPurged;
        event.bytes = Unescaped(payload);
        return true;
    }
    event.kind = LineEvent::Kind::kEvent;
    event.bytes = payload;
    return kind == "--";
}

// The last request that was not a status request ("S?", the recovery after a refusal), the
// reply to it, and the replies the driver threw away as answers to other requests: the bytes
// received before each foreign-reply event.
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
            current = event.bytes != "S?\r";
            if (current) {
                last = LastExchange{true, event.bytes, {}, {}};
            }
        } else if (event.kind == LineEvent::Kind::kReceived && current) {
            last.reply += event.bytes;
        } else if (event.kind == LineEvent::Kind::kEvent && current &&
                   event.bytes == kForeignReplyEvent) {
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
        owned_ = !path_.empty();
    }
    if (!path_.empty() && !SetEnvironment(kTraceVariable, path_.c_str())) {
        throw Failure(ExitStatus::kUsage, "cannot set " + std::string(kTraceVariable));
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
    const auto size = path_.empty() ? 0 : std::filesystem::file_size(path_, error);
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

std::vector<LineEvent> LineTrace::TakeNew(const std::string &port) {
    std::vector<LineEvent> events;
    if (path_.empty()) {
        return events;
    }
    if (generation_ != shared_->generation) {
        // Emptied since the last call; whatever stood before was taken by its readers.
        generation_ = shared_->generation;
        offset_ = 0;
    }
    std::ifstream in(path_, std::ios::binary);
    if (!in || !in.seekg(offset_)) {
        return events;
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
        if (ParseLine(line, port, event)) {
            events.push_back(std::move(event));
        }
    }
    return events;
}

std::string ReplyToLastRequest(const std::vector<LineEvent> &events, std::string &request) {
    const LastExchange last = LastExchangeOf(events);
    if (last.sent) {
        request = last.request;
    }
    return last.reply;
}

std::string ForeignRepliesToLastRequest(const std::vector<LineEvent> &events) {
    return LastExchangeOf(events).foreign;
}

bool PortFailed(const std::vector<LineEvent> &events) {
    for (const auto &event : events) {
        if (event.kind == LineEvent::Kind::kEvent &&
            (event.bytes == "read failed" || event.bytes == "write failed")) {
            return true;
        }
    }
    return false;
}

std::string Escaped(const std::string &bytes) {
    std::string text;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\r') {
            text += "\\r";
        } else if (c == '\n') {
            text += "\\n";
        } else if (c == '\t') {
            text += "\\t";
        } else if (c == '\\' || c == '"') {
            text += std::string("\\") + c;
        } else if (byte < 0x20 || byte > 0x7e) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            text += hex;
        } else {
            text += c;
        }
    }
    return text;
}
