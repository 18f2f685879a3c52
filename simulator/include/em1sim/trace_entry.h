// One line of the simulator's trace.
#pragma once

#include <string>

namespace em1sim {

struct TraceEntry {
    enum class Kind { kRequest, kReply, kEvent };

    double seconds; // since the simulator started
    Kind kind;
    std::string text; // raw bytes for requests and replies; a description for events
};

} // namespace em1sim
