#include "trace.h"

#include "escape.h"

namespace em1sim {

std::string FormatEntry(const TraceEntry &entry) {
    char time[32];
    std::snprintf(time, sizeof time, "%8.3f ", entry.seconds);
    switch (entry.kind) {
    case TraceEntry::Kind::kRequest:
        return time + std::string("RX \"") + EscapeBytes(entry.text) + '"';
    case TraceEntry::Kind::kReply:
        return time + std::string("TX \"") + EscapeBytes(entry.text) + '"';
    case TraceEntry::Kind::kEvent:
        break;
    }
    return time + std::string("-- ") + entry.text;
}

Trace::Trace(std::FILE *stream, bool keepEntries) : stream_(stream), keepEntries_(keepEntries) {}

void Trace::Record(TraceEntry::Kind kind, std::string_view text) {
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start_;
    TraceEntry entry{elapsed.count(), kind, std::string(text)};
    const std::lock_guard lock(mutex_);
    if (stream_ != nullptr) {
        std::fprintf(stream_, "%s\n", FormatEntry(entry).c_str());
        std::fflush(stream_);
    }
    if (keepEntries_)
        entries_.push_back(std::move(entry));
}

std::vector<TraceEntry> Trace::Entries() const {
    const std::lock_guard lock(mutex_);
    return entries_;
}

} // namespace em1sim
