// Faults injected into the line: rules that pick requests by pattern, and the shaping of the
// reply (or its absence) that each kind of fault produces.
#pragma once

#include "protocol.h"
#include "random.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace em1sim {

enum class FaultKind {
    kSilence,      // the request is lost: no reply
    kRefuse,       // "?" instead of the reply; the request is not carried out
    kEmpty,        // the terminator alone
    kPartial,      // the first bytes of the reply, then nothing
    kSplit,        // the first bytes, a pause, then the rest
    kGarbage,      // random bytes, then the terminator
    kNoTerminator, // the reply without its terminator
    kFlood,        // a long run of bytes without any terminator
    kLate,         // the whole reply after a long delay
    kTrailing,     // the reply, then extra bytes after the terminator
    kHangup,       // the line is closed and opened again; with bytes=N after part of the reply
    kForeign,      // another request's reply (the previous one's, or to=REQUEST's), then its own
    kRandom,       // one of the kinds above but Trailing, chosen each time the rule fires
};

struct FaultRule {
    std::string pattern; // request text without "\r"; "*" matches any run of characters
    FaultKind kind;
    std::optional<int> count; // requests left to hit; none: until cleared
    double rate = 1.0;        // chance that a matching request is hit
    std::chrono::milliseconds delay{0};
    std::size_t bytes = 0;
    std::string foreignTo; // the request whose reply a foreign fault sends first; empty: the
                           // previous request's
};

// Parses "PATTERN KIND [count=N] [rate=P] [delay=MS] [bytes=N] [to=REQUEST]"; on failure sets
// error.
std::optional<FaultRule> ParseFault(std::string_view text, std::string &error);
std::string Describe(const FaultRule &rule);
std::string_view KindName(FaultKind kind);
bool PatternMatches(std::string_view pattern, std::string_view request);

class FaultTable {
  public:
    void Add(FaultRule rule) { rules_.push_back(std::move(rule)); }
    void Clear() { rules_.clear(); }
    const std::vector<FaultRule> &Rules() const { return rules_; }
    // The first rule that matches and fires for this request; counts it down. A random rule
    // comes back as the kind it chose, with that kind's delay and bytes unless it set its own.
    std::optional<FaultRule> Take(std::string_view request, Random &random);

  private:
    std::vector<FaultRule> rules_;
};

struct Transmission {
    std::chrono::milliseconds delay;
    std::string bytes;
};

struct Delivery {
    std::vector<Transmission> transmissions;
    std::optional<std::chrono::milliseconds> hangUpFor;
};

// What goes on the line for a reply, with the reply latency and an optional fault applied;
// foreign is the other request's reply that a foreign fault sends first (none: only its own).
Delivery Deliver(const Reply &reply, const FaultRule *fault, std::chrono::milliseconds latency,
                 Random &random, const std::optional<Reply> &foreign = std::nullopt);

} // namespace em1sim
