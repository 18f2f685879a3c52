// The instrument's data: loops with every parameter letter, modules with a value and a status,
// the alert list and the front-panel display, and the process that moves the measured values.
#pragma once

#include "parameters.h"
#include "random.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace em1sim {

inline constexpr int kMaxLoops = 29;
inline constexpr int kMaxModules = 35;
inline constexpr std::size_t kMaxAlerts = 27;
// With 27 alerts of this length the alert list still fits one reply.
inline constexpr std::size_t kMaxAlertLength = 19;

// An item as requests name it: "L01S" is type 'L', number 1, letter 'S'.
struct Item {
    char type;
    int number;
    char letter;
};

// Parses exactly a type letter, two digits and a parameter letter; the range of the number is
// checked by the instrument.
std::optional<Item> ParseItem(std::string_view text);

class Instrument {
  public:
    Instrument(int loops, int modules);

    int Loops() const { return static_cast<int>(loops_.size()); }
    int Modules() const { return static_cast<int>(modules_.size()); }

    // The parameter of an existing item, or nullptr for a number out of range or an unknown letter.
    const Parameter *ParameterOf(const Item &item) const;
    std::string TextOf(const Item &item) const;
    // The number an item holds; nullopt for tokens.
    std::optional<double> NumberOf(const Item &item) const;
    // The value as it will be stored, or nullopt when the kind does not accept the text.
    std::optional<std::string> Normalise(const Item &item, std::string_view text) const;
    // Stores a text that Normalise() accepted for the item; read-only letters included.
    bool Assign(const Item &item, std::string_view text);
    // Told of every value stored by Assign, as it is stored: what the trace shows of writes.
    using AssignListener = std::function<void(const Item &item, const std::string &value)>;
    void OnAssign(AssignListener listener) { onAssign_ = std::move(listener); }

    const std::vector<std::string> &Alerts() const { return alerts_; }
    bool AddAlert(std::string_view text);
    bool RemoveAlert(std::string_view text);
    void ClearAlerts() { alerts_.clear(); }

    const std::string &Display() const { return display_; }
    void Show(std::string_view text) { display_ = text; }

    // One step of the process: measured values move toward their set points with some noise.
    void Advance(Random &random);

  private:
    struct Cell {
        ValueKind kind;
        double number = 0.0;
        std::string token;
    };
    using Cells = std::vector<Cell>;

    AssignListener onAssign_;

    const Cell *CellOf(const Item &item) const;
    Cell *CellOf(const Item &item);
    static Cells InitialLoop(int number);
    static Cells InitialModule(int number);
    static void AdvanceLoop(Cells &loop, Random &random);

    std::vector<Cells> loops_;
    std::vector<Cells> modules_;
    std::vector<std::string> alerts_;
    std::string display_;
};

} // namespace em1sim
