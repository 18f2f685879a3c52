#include "instrument.h"

#include "number_text.h"
#include "vocabulary.h"

#include <algorithm>
#include <cstdlib>

namespace em1sim {
namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

std::size_t LetterIndex(char type, char letter) {
    const std::string_view letters = type == 'L' ? kLoopLetters : kModuleLetters;
    return letters.find(letter);
}

bool PrintableLine(std::string_view text) {
    return std::ranges::all_of(text, [](char c) { return c >= 0x20 && c < 0x7f; });
}

constexpr double kTracking = 0.05;     // share of the set point error closed per step
constexpr double kNoise = 0.02;        // measured value noise per step
constexpr double kModuleNoise = 0.005; // module value noise per step
constexpr double kOutputGain = 5.0;    // output percent per unit of set point error

} // namespace

std::optional<Item> ParseItem(std::string_view text) {
    if (text.size() != 4 || (text[0] != 'L' && text[0] != 'M') || !IsDigit(text[1]) ||
        !IsDigit(text[2]))
        return std::nullopt;
    return Item{text[0], (text[1] - '0') * 10 + (text[2] - '0'), text[3]};
}

Instrument::Instrument(int loops, int modules) {
    for (int n = 1; n <= std::clamp(loops, 1, kMaxLoops); ++n)
        loops_.push_back(InitialLoop(n));
    for (int n = 1; n <= std::clamp(modules, 0, kMaxModules); ++n)
        modules_.push_back(InitialModule(n));
}

Instrument::Cells Instrument::InitialLoop(int number) {
    Cells cells;
    for (const auto &parameter : LoopParameters())
        cells.push_back(Cell{parameter.kind, 0.0, std::string(parameter.initial)});
    const double setPoint = 25.0 + number;
    for (const char letter : {'S', 'V'})
        cells[LetterIndex('L', letter)] = Cell{ValueKind::kNumber, setPoint, ""};
    for (auto &c : cells)
        if (c.kind == ValueKind::kNumber && !c.token.empty()) {
            c.number = std::strtod(c.token.c_str(), nullptr);
            c.token.clear();
        }
    return cells;
}

Instrument::Cells Instrument::InitialModule(int number) {
    return Cells{Cell{ValueKind::kNumber, 1.5 * number, ""}, Cell{ValueKind::kStatus, 0.0, "OK"}};
}

const Parameter *Instrument::ParameterOf(const Item &item) const {
    const int count = item.type == 'L' ? Loops() : Modules();
    if (item.number < 1 || item.number > count)
        return nullptr;
    return FindParameter(item.type, item.letter);
}

const Instrument::Cell *Instrument::CellOf(const Item &item) const {
    if (ParameterOf(item) == nullptr)
        return nullptr;
    const auto &cells = item.type == 'L' ? loops_ : modules_;
    return &cells[item.number - 1][LetterIndex(item.type, item.letter)];
}

Instrument::Cell *Instrument::CellOf(const Item &item) {
    return const_cast<Cell *>(static_cast<const Instrument *>(this)->CellOf(item));
}

std::string Instrument::TextOf(const Item &item) const {
    const Cell *c = CellOf(item);
    if (c == nullptr)
        return {};
    return c->kind == ValueKind::kNumber ? NumberText(c->number) : c->token;
}

std::optional<double> Instrument::NumberOf(const Item &item) const {
    const Cell *c = CellOf(item);
    if (c == nullptr || c->kind != ValueKind::kNumber)
        return std::nullopt;
    return c->number;
}

std::optional<std::string> Instrument::Normalise(const Item &item, std::string_view text) const {
    const Cell *c = CellOf(item);
    if (c == nullptr)
        return std::nullopt;
    if (c->kind == ValueKind::kNumber) {
        const auto value = ParseNumber(text);
        return value ? std::optional(NumberText(*value)) : std::nullopt;
    }
    const auto tokens = TokensOf(c->kind);
    if (std::ranges::find(tokens, text) != tokens.end())
        return std::string(text);
    if (AcceptsOff(c->kind) && text == kOffToken)
        return std::string(text);
    if (c->kind == ValueKind::kStatus) {
        const auto code = ParseNumber(text);
        if (code && *code >= 0 && *code < static_cast<double>(tokens.size()) &&
            *code == static_cast<int>(*code))
            return std::string(tokens[static_cast<std::size_t>(*code)]);
    }
    return std::nullopt;
}

bool Instrument::Assign(const Item &item, std::string_view text) {
    const auto value = Normalise(item, text);
    Cell *c = CellOf(item);
    if (!value || c == nullptr)
        return false;
    if (c->kind == ValueKind::kNumber)
        c->number = *ParseNumber(*value);
    else
        c->token = *value;
    if (onAssign_)
        onAssign_(item, *value);
    return true;
}

bool Instrument::AddAlert(std::string_view text) {
    if (text.empty() || text.size() > kMaxAlertLength || !PrintableLine(text) ||
        alerts_.size() >= kMaxAlerts || std::ranges::find(alerts_, text) != alerts_.end())
        return false;
    alerts_.emplace_back(text);
    return true;
}

bool Instrument::RemoveAlert(std::string_view text) {
    const auto found = std::ranges::find(alerts_, text);
    if (found == alerts_.end())
        return false;
    alerts_.erase(found);
    return true;
}

void Instrument::Advance(Random &random) {
    for (auto &loop : loops_)
        AdvanceLoop(loop, random);
    for (auto &module : modules_)
        module[0].number += random.Jitter(kModuleNoise);
}

void Instrument::AdvanceLoop(Cells &loop, Random &random) {
    const double setPoint = loop[LetterIndex('L', 'S')].number;
    double &measured = loop[LetterIndex('L', 'V')].number;
    const std::string &mode = loop[LetterIndex('L', 'M')].token;
    const bool controlling = mode != "OFF" && mode != "MANUAL";
    if (controlling)
        measured += (setPoint - measured) * kTracking;
    measured += random.Jitter(kNoise);
    if (controlling) {
        const double low = loop[LetterIndex('L', '(')].number;
        const double high = loop[LetterIndex('L', ')')].number;
        const double output = 50.0 + kOutputGain * (setPoint - measured);
        loop[LetterIndex('L', '%')].number = std::clamp(output, std::min(low, high), high);
    }
}

} // namespace em1sim
