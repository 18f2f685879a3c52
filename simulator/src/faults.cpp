#include "faults.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <sstream>

namespace em1sim {
namespace {

struct KindInfo {
    FaultKind kind;
    std::string_view name;
    int defaultDelayMs;
    std::size_t defaultBytes;
};

constexpr std::array<KindInfo, 13> kKinds{{
    {FaultKind::kSilence, "silence", 0, 0},
    {FaultKind::kRefuse, "refuse", 0, 0},
    {FaultKind::kEmpty, "empty", 0, 0},
    {FaultKind::kPartial, "partial", 0, 0},
    {FaultKind::kSplit, "split", 500, 0},
    {FaultKind::kGarbage, "garbage", 0, 12},
    {FaultKind::kNoTerminator, "noterm", 0, 0},
    {FaultKind::kFlood, "flood", 0, 600},
    {FaultKind::kLate, "late", 3000, 0},
    {FaultKind::kTrailing, "trailing", 0, 5},
    {FaultKind::kHangup, "hangup", 200, 0},
    {FaultKind::kForeign, "foreign", 100, 0},
    {FaultKind::kRandom, "random", 0, 0},
}};

// The kinds a random rule picks from: every one that spoils, withholds or delays the reply.
constexpr std::array<FaultKind, 11> kSpoilingKinds{
    FaultKind::kSilence, FaultKind::kRefuse,       FaultKind::kEmpty,   FaultKind::kPartial,
    FaultKind::kSplit,   FaultKind::kGarbage,      FaultKind::kFlood,   FaultKind::kLate,
    FaultKind::kHangup,  FaultKind::kNoTerminator, FaultKind::kForeign,
};

const KindInfo *FindKind(std::string_view name) {
    const auto found = std::ranges::find(kKinds, name, &KindInfo::name);
    return found == kKinds.end() ? nullptr : &*found;
}

const KindInfo &InfoOf(FaultKind kind) {
    return *std::ranges::find(kKinds, kind, &KindInfo::kind);
}

template <typename Number> bool ParseValue(std::string_view text, Number &value) {
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

bool ParseRate(std::string_view text, double &rate) {
    const std::string copy(text);
    std::istringstream stream(copy);
    stream >> rate;
    return stream && stream.eof() && rate >= 0.0 && rate <= 1.0;
}

bool ApplyOption(FaultRule &rule, std::string_view option) {
    const auto equals = option.find('=');
    if (equals == option.npos)
        return false;
    const std::string_view key = option.substr(0, equals);
    const std::string_view value = option.substr(equals + 1);
    if (key == "rate")
        return ParseRate(value, rule.rate);
    if (key == "to") {
        rule.foreignTo = value;
        return !value.empty() && value.find('*') == value.npos;
    }
    int number = 0;
    if (!ParseValue(value, number) || number < 0)
        return false;
    if (key == "count" && number > 0)
        rule.count = number;
    else if (key == "delay")
        rule.delay = std::chrono::milliseconds(number);
    else if (key == "bytes" && number > 0)
        rule.bytes = static_cast<std::size_t>(number);
    else
        return false;
    return true;
}

std::vector<std::string_view> WordsOf(std::string_view text) {
    std::vector<std::string_view> words;
    std::size_t position = 0;
    while (position < text.size()) {
        const auto start = text.find_first_not_of(" \t", position);
        if (start == text.npos)
            break;
        const auto end = std::min(text.find_first_of(" \t", start), text.size());
        words.push_back(text.substr(start, end - start));
        position = end;
    }
    return words;
}

// Bytes that can never be taken for the end of a reply.
std::string NoiseBytes(std::size_t count, Random &random, bool printable) {
    std::string bytes;
    while (bytes.size() < count) {
        const auto byte = static_cast<char>(printable ? 0x21 + random.Next() % 94 : random.Next());
        if (byte != '\r' && byte != '\n' && byte != kEtx)
            bytes += byte;
    }
    return bytes;
}

std::string TrailingBytes(std::size_t count) {
    std::string bytes;
    while (bytes.size() < count)
        bytes += "EXTRA"[bytes.size() % 5];
    return bytes;
}

// A random rule's choice for one request: the kind's own delay and bytes, unless the rule
// gave its own.
FaultRule ChosenKind(FaultRule rule, Random &random) {
    const KindInfo &chosen = InfoOf(kSpoilingKinds[random.Next() % kSpoilingKinds.size()]);
    rule.kind = chosen.kind;
    if (rule.delay.count() == 0)
        rule.delay = std::chrono::milliseconds(chosen.defaultDelayMs);
    if (rule.bytes == 0)
        rule.bytes = chosen.defaultBytes;
    return rule;
}

} // namespace

std::string_view KindName(FaultKind kind) {
    return InfoOf(kind).name;
}

bool PatternMatches(std::string_view pattern, std::string_view request) {
    const auto star = pattern.find('*');
    if (star == pattern.npos)
        return pattern == request;
    if (!request.starts_with(pattern.substr(0, star)))
        return false;
    const std::string_view rest = pattern.substr(star + 1);
    for (std::size_t from = star; from <= request.size(); ++from)
        if (PatternMatches(rest, request.substr(from)))
            return true;
    return false;
}

std::optional<FaultRule> ParseFault(std::string_view text, std::string &error) {
    const auto words = WordsOf(text);
    if (words.size() < 2) {
        error = "a fault needs a pattern and a kind";
        return std::nullopt;
    }
    const KindInfo *kind = FindKind(words[1]);
    if (kind == nullptr) {
        error = "unknown fault kind '" + std::string(words[1]) + "'";
        return std::nullopt;
    }
    FaultRule rule{std::string(words[0]),
                   kind->kind,
                   std::nullopt,
                   1.0,
                   std::chrono::milliseconds(kind->defaultDelayMs),
                   kind->defaultBytes,
                   {}};
    for (std::size_t i = 2; i < words.size(); ++i)
        if (!ApplyOption(rule, words[i])) {
            error = "bad fault option '" + std::string(words[i]) + "'";
            return std::nullopt;
        }
    return rule;
}

std::string Describe(const FaultRule &rule) {
    std::string text = rule.pattern + ' ' + std::string(KindName(rule.kind));
    if (rule.count)
        text += " count=" + std::to_string(*rule.count);
    if (rule.rate < 1.0) {
        std::ostringstream rate;
        rate << rule.rate;
        text += " rate=" + rate.str();
    }
    if (rule.delay.count() > 0)
        text += " delay=" + std::to_string(rule.delay.count());
    if (rule.bytes > 0)
        text += " bytes=" + std::to_string(rule.bytes);
    if (!rule.foreignTo.empty())
        text += " to=" + rule.foreignTo;
    return text;
}

std::optional<FaultRule> FaultTable::Take(std::string_view request, Random &random) {
    for (auto rule = rules_.begin(); rule != rules_.end(); ++rule) {
        if (!PatternMatches(rule->pattern, request))
            continue;
        if (rule->rate < 1.0 && random.Unit() >= rule->rate)
            continue;
        FaultRule fired = rule->kind == FaultKind::kRandom ? ChosenKind(*rule, random) : *rule;
        if (rule->count && --*rule->count == 0)
            rules_.erase(rule);
        return fired;
    }
    return std::nullopt;
}

Delivery Deliver(const Reply &reply, const FaultRule *fault, std::chrono::milliseconds latency,
                 Random &random, const std::optional<Reply> &foreign) {
    const std::string whole = reply.Bytes();
    const auto send = [&](std::string bytes) {
        return Delivery{{Transmission{latency, std::move(bytes)}}, std::nullopt};
    };
    if (fault == nullptr)
        return send(whole);
    const std::size_t head =
        std::clamp<std::size_t>(fault->bytes > 0 ? fault->bytes : whole.size() / 2, 1,
                                std::max<std::size_t>(whole.size(), 2) - 1);
    switch (fault->kind) {
    case FaultKind::kSilence:
        return {};
    case FaultKind::kHangup:
        if (fault->bytes == 0)
            return Delivery{{}, fault->delay};
        return Delivery{{Transmission{latency, whole.substr(0, head)}}, fault->delay};
    case FaultKind::kEmpty:
        return send(std::string(1, reply.terminator));
    case FaultKind::kPartial:
        return send(whole.substr(0, head));
    case FaultKind::kSplit: {
        Delivery split = send(whole.substr(0, head));
        split.transmissions.push_back(Transmission{latency + fault->delay, whole.substr(head)});
        return split;
    }
    case FaultKind::kGarbage:
        return send(NoiseBytes(fault->bytes, random, false) + reply.terminator);
    case FaultKind::kNoTerminator:
        return send(reply.body);
    case FaultKind::kFlood:
        return send(NoiseBytes(fault->bytes, random, true));
    case FaultKind::kLate:
        return Delivery{{Transmission{fault->delay, whole}}, std::nullopt};
    case FaultKind::kTrailing:
        return send(whole + TrailingBytes(fault->bytes));
    case FaultKind::kForeign: {
        if (!foreign)
            return send(whole);
        Delivery crossed = send(foreign->Bytes());
        crossed.transmissions.push_back(Transmission{latency + fault->delay, whole});
        return crossed;
    }
    case FaultKind::kRefuse:
    case FaultKind::kRandom:
        break;
    }
    return send(whole);
}

} // namespace em1sim
