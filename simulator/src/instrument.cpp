#include "instrument.h"

#include "number_text.h"
#include "vocabulary.h"

#include <algorithm>
#include <cstdlib>

namespace em1sim {
namespace {

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

std::size_t letter_index(char type, char letter) {
    const std::string_view letters = type == 'L' ? kLoopLetters : kModuleLetters;
    return letters.find(letter);
}

bool printable_line(std::string_view text) {
    return std::ranges::all_of(text, [](char c) { return c >= 0x20 && c < 0x7f; });
}

constexpr double kTracking = 0.05;     // share of the set point error closed per step
constexpr double kNoise = 0.02;        // measured value noise per step
constexpr double kModuleNoise = 0.005; // module value noise per step
constexpr double kOutputGain = 5.0;    // output percent per unit of set point error

} // namespace

std::optional<Item> parse_item(std::string_view text) {
    if (text.size() != 4 || (text[0] != 'L' && text[0] != 'M') || !is_digit(text[1]) ||
        !is_digit(text[2]))
        return std::nullopt;
    return Item{text[0], (text[1] - '0') * 10 + (text[2] - '0'), text[3]};
}

Instrument::Instrument(int loops, int modules) {
    for (int n = 1; n <= std::clamp(loops, 1, kMaxLoops); ++n)
        loops_.push_back(initial_loop(n));
    for (int n = 1; n <= std::clamp(modules, 0, kMaxModules); ++n)
        modules_.push_back(initial_module(n));
}

Instrument::Cells Instrument::initial_loop(int number) {
    Cells cells;
    for (const auto &parameter : loop_parameters())
        cells.push_back(Cell{parameter.kind, 0.0, std::string(parameter.initial)});
    const double set_point = 25.0 + number;
    for (const char letter : {'S', 'V'})
        cells[letter_index('L', letter)] = Cell{ValueKind::Number, set_point, ""};
    for (auto &c : cells)
        if (c.kind == ValueKind::Number && !c.token.empty()) {
            c.number = std::strtod(c.token.c_str(), nullptr);
            c.token.clear();
        }
    return cells;
}

Instrument::Cells Instrument::initial_module(int number) {
    return Cells{Cell{ValueKind::Number, 1.5 * number, ""}, Cell{ValueKind::Status, 0.0, "OK"}};
}

const Parameter *Instrument::parameter_of(const Item &item) const {
    const int count = item.type == 'L' ? loops() : modules();
    if (item.number < 1 || item.number > count)
        return nullptr;
    return find_parameter(item.type, item.letter);
}

const Instrument::Cell *Instrument::cell(const Item &item) const {
    if (parameter_of(item) == nullptr)
        return nullptr;
    const auto &cells = item.type == 'L' ? loops_ : modules_;
    return &cells[item.number - 1][letter_index(item.type, item.letter)];
}

Instrument::Cell *Instrument::cell(const Item &item) {
    return const_cast<Cell *>(static_cast<const Instrument *>(this)->cell(item));
}

std::string Instrument::text_of(const Item &item) const {
    const Cell *c = cell(item);
    if (c == nullptr)
        return {};
    return c->kind == ValueKind::Number ? number_text(c->number) : c->token;
}

std::optional<double> Instrument::number_of(const Item &item) const {
    const Cell *c = cell(item);
    if (c == nullptr || c->kind != ValueKind::Number)
        return std::nullopt;
    return c->number;
}

std::optional<std::string> Instrument::normalise(const Item &item, std::string_view text) const {
    const Cell *c = cell(item);
    if (c == nullptr)
        return std::nullopt;
    if (c->kind == ValueKind::Number) {
        const auto value = parse_number(text);
        return value ? std::optional(number_text(*value)) : std::nullopt;
    }
    const auto tokens = tokens_of(c->kind);
    if (std::ranges::find(tokens, text) != tokens.end())
        return std::string(text);
    if (accepts_off(c->kind) && text == kOffToken)
        return std::string(text);
    if (c->kind == ValueKind::Status) {
        const auto code = parse_number(text);
        if (code && *code >= 0 && *code < static_cast<double>(tokens.size()) &&
            *code == static_cast<int>(*code))
            return std::string(tokens[static_cast<std::size_t>(*code)]);
    }
    return std::nullopt;
}

bool Instrument::assign(const Item &item, std::string_view text) {
    const auto value = normalise(item, text);
    Cell *c = cell(item);
    if (!value || c == nullptr)
        return false;
    if (c->kind == ValueKind::Number)
        c->number = *parse_number(*value);
    else
        c->token = *value;
    return true;
}

bool Instrument::add_alert(std::string_view text) {
    if (text.empty() || text.size() > kMaxAlertLength || !printable_line(text) ||
        alerts_.size() >= kMaxAlerts || std::ranges::find(alerts_, text) != alerts_.end())
        return false;
    alerts_.emplace_back(text);
    return true;
}

bool Instrument::remove_alert(std::string_view text) {
    const auto found = std::ranges::find(alerts_, text);
    if (found == alerts_.end())
        return false;
    alerts_.erase(found);
    return true;
}

void Instrument::advance(Random &random) {
    for (auto &loop : loops_)
        advance_loop(loop, random);
    for (auto &module : modules_)
        module[0].number += random.jitter(kModuleNoise);
}

void Instrument::advance_loop(Cells &loop, Random &random) {
    const double set_point = loop[letter_index('L', 'S')].number;
    double &measured = loop[letter_index('L', 'V')].number;
    const std::string &mode = loop[letter_index('L', 'M')].token;
    const bool controlling = mode != "OFF" && mode != "MANUAL";
    if (controlling)
        measured += (set_point - measured) * kTracking;
    measured += random.jitter(kNoise);
    if (controlling) {
        const double low = loop[letter_index('L', '(')].number;
        const double high = loop[letter_index('L', ')')].number;
        const double output = 50.0 + kOutputGain * (set_point - measured);
        loop[letter_index('L', '%')].number = std::clamp(output, std::min(low, high), high);
    }
}

} // namespace em1sim
