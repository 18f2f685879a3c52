#include "trace.h"

#include "escape.h"

namespace em1sim {

std::string format_entry(const TraceEntry &entry) {
    char time[32];
    std::snprintf(time, sizeof time, "%8.3f ", entry.seconds);
    switch (entry.kind) {
    case TraceEntry::Kind::Request:
        return time + std::string("RX \"") + escape_bytes(entry.text) + '"';
    case TraceEntry::Kind::Reply:
        return time + std::string("TX \"") + escape_bytes(entry.text) + '"';
    case TraceEntry::Kind::Event:
        break;
    }
    return time + std::string("-- ") + entry.text;
}

Trace::Trace(std::FILE *stream, bool keep_entries) : stream_(stream), keep_entries_(keep_entries) {}

void Trace::record(TraceEntry::Kind kind, std::string_view text) {
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start_;
    TraceEntry entry{elapsed.count(), kind, std::string(text)};
    const std::lock_guard lock(mutex_);
    if (stream_ != nullptr) {
        std::fprintf(stream_, "%s\n", format_entry(entry).c_str());
        std::fflush(stream_);
    }
    if (keep_entries_)
        entries_.push_back(std::move(entry));
}

std::vector<TraceEntry> Trace::entries() const {
    const std::lock_guard lock(mutex_);
    return entries_;
}

} // namespace em1sim
