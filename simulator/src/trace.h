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
std::string FormatEntry(const TraceEntry &entry);

class Trace {
  public:
    // stream may be null; keepEntries holds every entry for Entries().
    Trace(std::FILE *stream, bool keepEntries);

    void Request(std::string_view bytes) { Record(TraceEntry::Kind::kRequest, bytes); }
    void Reply(std::string_view bytes) { Record(TraceEntry::Kind::kReply, bytes); }
    void Event(std::string_view text) { Record(TraceEntry::Kind::kEvent, text); }

    std::vector<TraceEntry> Entries() const;

  private:
    void Record(TraceEntry::Kind kind, std::string_view text);

    std::FILE *stream_;
    bool keepEntries_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    mutable std::mutex mutex_;
    std::vector<TraceEntry> entries_;
};

} // namespace em1sim
