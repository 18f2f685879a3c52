// The instrument's data: loops with every parameter letter, modules with a value and a status,
// the alert list and the front-panel display, and the process that moves the measured values.
#pragma once

#include "parameters.h"
#include "random.h"

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
std::optional<Item> parse_item(std::string_view text);

class Instrument {
  public:
    Instrument(int loops, int modules);

    int loops() const { return static_cast<int>(loops_.size()); }
    int modules() const { return static_cast<int>(modules_.size()); }

    // The parameter of an existing item, or nullptr for a number out of range or an unknown letter.
    const Parameter *parameter_of(const Item &item) const;
    std::string text_of(const Item &item) const;
    // The number an item holds; nullopt for tokens.
    std::optional<double> number_of(const Item &item) const;
    // The value as it will be stored, or nullopt when the kind does not accept the text.
    std::optional<std::string> normalise(const Item &item, std::string_view text) const;
    // Stores a text that normalise() accepted for the item; read-only letters included.
    bool assign(const Item &item, std::string_view text);

    const std::vector<std::string> &alerts() const { return alerts_; }
    bool add_alert(std::string_view text);
    bool remove_alert(std::string_view text);
    void clear_alerts() { alerts_.clear(); }

    const std::string &display() const { return display_; }
    void show(std::string_view text) { display_ = text; }

    // One step of the process: measured values move toward their set points with some noise.
    void advance(Random &random);

  private:
    struct Cell {
        ValueKind kind;
        double number = 0.0;
        std::string token;
    };
    using Cells = std::vector<Cell>;

    const Cell *cell(const Item &item) const;
    Cell *cell(const Item &item);
    static Cells initial_loop(int number);
    static Cells initial_module(int number);
    static void advance_loop(Cells &loop, Random &random);

    std::vector<Cells> loops_;
    std::vector<Cells> modules_;
    std::vector<std::string> alerts_;
    std::string display_;
};

} // namespace em1sim
