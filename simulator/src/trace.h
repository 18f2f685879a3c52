// The record of everything on the line: requests received, bytes sent and line events, each
// with the time since start. Written as text to a stream and, for tests, kept in memory.
#pragma once

#include "em1sim/trace_entry.h"

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string_view>
#include <vector>

namespace em1sim {

// "  0.215 RX \"L01S?\\r\"": time, direction (RX, TX or --), escaped bytes or event text.
std::string format_entry(const TraceEntry &entry);

class Trace {
  public:
    // stream may be null; keep_entries holds every entry for entries().
    Trace(std::FILE *stream, bool keep_entries);

    void request(std::string_view bytes) { record(TraceEntry::Kind::Request, bytes); }
    void reply(std::string_view bytes) { record(TraceEntry::Kind::Reply, bytes); }
    void event(std::string_view text) { record(TraceEntry::Kind::Event, text); }

    std::vector<TraceEntry> entries() const;

  private:
    void record(TraceEntry::Kind kind, std::string_view text);

    std::FILE *stream_;
    bool keep_entries_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    mutable std::mutex mutex_;
    std::vector<TraceEntry> entries_;
};

} // namespace em1sim
