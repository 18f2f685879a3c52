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
    int default_delay_ms;
    std::size_t default_bytes;
};

constexpr std::array<KindInfo, 12> kKinds{{
    {FaultKind::Silence, "silence", 0, 0},
    {FaultKind::Refuse, "refuse", 0, 0},
    {FaultKind::Empty, "empty", 0, 0},
    {FaultKind::Partial, "partial", 0, 0},
    {FaultKind::Split, "split", 500, 0},
    {FaultKind::Garbage, "garbage", 0, 12},
    {FaultKind::NoTerminator, "noterm", 0, 0},
    {FaultKind::Flood, "flood", 0, 600},
    {FaultKind::Late, "late", 3000, 0},
    {FaultKind::Trailing, "trailing", 0, 5},
    {FaultKind::Hangup, "hangup", 200, 0},
    {FaultKind::Random, "random", 0, 0},
}};

// The kinds a random rule picks from: every one that spoils or withholds the reply.
constexpr std::array<FaultKind, 10> kSpoilingKinds{
    FaultKind::Silence, FaultKind::Refuse,       FaultKind::Empty, FaultKind::Partial,
    FaultKind::Split,   FaultKind::Garbage,      FaultKind::Flood, FaultKind::Late,
    FaultKind::Hangup,  FaultKind::NoTerminator,
};

const KindInfo *find_kind(std::string_view name) {
    const auto found = std::ranges::find(kKinds, name, &KindInfo::name);
    return found == kKinds.end() ? nullptr : &*found;
}

const KindInfo &info_of(FaultKind kind) {
    return *std::ranges::find(kKinds, kind, &KindInfo::kind);
}

template <typename Number> bool parse_value(std::string_view text, Number &value) {
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

bool parse_rate(std::string_view text, double &rate) {
    const std::string copy(text);
    std::istringstream stream(copy);
    stream >> rate;
    return stream && stream.eof() && rate >= 0.0 && rate <= 1.0;
}

bool apply_option(FaultRule &rule, std::string_view option) {
    const auto equals = option.find('=');
    if (equals == option.npos)
        return false;
    const std::string_view key = option.substr(0, equals);
    const std::string_view value = option.substr(equals + 1);
    if (key == "rate")
        return parse_rate(value, rule.rate);
    int number = 0;
    if (!parse_value(value, number) || number < 0)
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

std::vector<std::string_view> words_of(std::string_view text) {
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
std::string noise_bytes(std::size_t count, Random &random, bool printable) {
    std::string bytes;
    while (bytes.size() < count) {
        const auto byte = static_cast<char>(printable ? 0x21 + random.next() % 94 : random.next());
        if (byte != '\r' && byte != '\n' && byte != kEtx)
            bytes += byte;
    }
    return bytes;
}

std::string trailing_bytes(std::size_t count) {
    std::string bytes;
    while (bytes.size() < count)
        bytes += "EXTRA"[bytes.size() % 5];
    return bytes;
}

// A random rule's choice for one request: the kind's own delay and bytes, unless the rule
// gave its own.
FaultRule chosen_kind(FaultRule rule, Random &random) {
    const KindInfo &chosen = info_of(kSpoilingKinds[random.next() % kSpoilingKinds.size()]);
    rule.kind = chosen.kind;
    if (rule.delay.count() == 0)
        rule.delay = std::chrono::milliseconds(chosen.default_delay_ms);
    if (rule.bytes == 0)
        rule.bytes = chosen.default_bytes;
    return rule;
}

} // namespace

std::string_view kind_name(FaultKind kind) {
    return info_of(kind).name;
}

bool pattern_matches(std::string_view pattern, std::string_view request) {
    const auto star = pattern.find('*');
    if (star == pattern.npos)
        return pattern == request;
    if (!request.starts_with(pattern.substr(0, star)))
        return false;
    const std::string_view rest = pattern.substr(star + 1);
    for (std::size_t from = star; from <= request.size(); ++from)
        if (pattern_matches(rest, request.substr(from)))
            return true;
    return false;
}

std::optional<FaultRule> parse_fault(std::string_view text, std::string &error) {
    const auto words = words_of(text);
    if (words.size() < 2) {
        error = "a fault needs a pattern and a kind";
        return std::nullopt;
    }
    const KindInfo *kind = find_kind(words[1]);
    if (kind == nullptr) {
        error = "unknown fault kind '" + std::string(words[1]) + "'";
        return std::nullopt;
    }
    FaultRule rule{std::string(words[0]),
                   kind->kind,
                   std::nullopt,
                   1.0,
                   std::chrono::milliseconds(kind->default_delay_ms),
                   kind->default_bytes};
    for (std::size_t i = 2; i < words.size(); ++i)
        if (!apply_option(rule, words[i])) {
            error = "bad fault option '" + std::string(words[i]) + "'";
            return std::nullopt;
        }
    return rule;
}

std::string describe(const FaultRule &rule) {
    std::string text = rule.pattern + ' ' + std::string(kind_name(rule.kind));
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
    return text;
}

std::optional<FaultRule> FaultTable::take(std::string_view request, Random &random) {
    for (auto rule = rules_.begin(); rule != rules_.end(); ++rule) {
        if (!pattern_matches(rule->pattern, request))
            continue;
        if (rule->rate < 1.0 && random.unit() >= rule->rate)
            continue;
        FaultRule fired = rule->kind == FaultKind::Random ? chosen_kind(*rule, random) : *rule;
        if (rule->count && --*rule->count == 0)
            rules_.erase(rule);
        return fired;
    }
    return std::nullopt;
}

Delivery deliver(const Reply &reply, const FaultRule *fault, std::chrono::milliseconds latency,
                 Random &random) {
    const std::string whole = reply.bytes();
    const auto send = [&](std::string bytes) {
        return Delivery{{Transmission{latency, std::move(bytes)}}, std::nullopt};
    };
    if (fault == nullptr)
        return send(whole);
    const std::size_t head =
        std::clamp<std::size_t>(fault->bytes > 0 ? fault->bytes : whole.size() / 2, 1,
                                std::max<std::size_t>(whole.size(), 2) - 1);
    switch (fault->kind) {
    case FaultKind::Silence:
        return {};
    case FaultKind::Hangup:
        if (fault->bytes == 0)
            return Delivery{{}, fault->delay};
        return Delivery{{Transmission{latency, whole.substr(0, head)}}, fault->delay};
    case FaultKind::Empty:
        return send(std::string(1, reply.terminator));
    case FaultKind::Partial:
        return send(whole.substr(0, head));
    case FaultKind::Split: {
        Delivery split = send(whole.substr(0, head));
        split.transmissions.push_back(Transmission{latency + fault->delay, whole.substr(head)});
        return split;
    }
    case FaultKind::Garbage:
        return send(noise_bytes(fault->bytes, random, false) + reply.terminator);
    case FaultKind::NoTerminator:
        return send(reply.body);
    case FaultKind::Flood:
        return send(noise_bytes(fault->bytes, random, true));
    case FaultKind::Late:
        return Delivery{{Transmission{fault->delay, whole}}, std::nullopt};
    case FaultKind::Trailing:
        return send(whole + trailing_bytes(fault->bytes));
    case FaultKind::Refuse:
    case FaultKind::Random:
        break;
    }
    return send(whole);
}

} // namespace em1sim
