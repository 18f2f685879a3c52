// Everything the simulator knows and can be told: the instrument, the conversation, the fault
// table and the knobs of its behaviour. Guarded by the engine's lock.
#pragma once

#include "faults.h"
#include "instrument.h"
#include "protocol.h"
#include "random.h"

#include <chrono>
#include <cstdint>
#include <optional>

namespace em1sim {

struct ModelSettings {
    int loops = kMaxLoops;
    int modules = kMaxModules;
    ProtocolSettings protocol;
    std::chrono::milliseconds latency{20};
    bool drift = true;
    std::uint32_t seed = 1;
    // Pace of the line: each byte sent takes this long, as on a real line, and a request
    // counts as received once its last byte would have arrived. 0: bytes go out at once.
    std::chrono::nanoseconds characterTime{0};
};

struct Model {
    explicit Model(const ModelSettings &settings)
        : instrument(settings.loops, settings.modules), protocol(instrument, settings.protocol),
          latency(settings.latency), drift(settings.drift), driftRandom(settings.seed),
          faultRandom(settings.seed ^ 0x5EEDu) {}
    Model(const Model &) = delete;
    Model &operator=(const Model &) = delete;

    Instrument instrument;
    Protocol protocol;
    FaultTable faults;
    std::chrono::milliseconds latency;
    bool drift;
    Random driftRandom;
    Random faultRandom;
    // The reply to the last request answered, which a foreign fault sends again.
    std::optional<Reply> previousReply;
    // Set by the "hangup" command; the engine carries it out on its own thread.
    std::optional<std::chrono::milliseconds> hangUpRequest;
};

} // namespace em1sim
