// When each item of a poll falls due. Every item keeps its own period, counted from the
// moment it fell due rather than from its read, so that a read delayed by the others does not
// shift the ones after it; an item that fell behind is read as soon as the line allows, never
// in a burst to catch up. A closing read of the listener's own (the gateway's alerts) may
// follow the items at a period of its own.
//
// The schedule keeps the time each read took, and so knows when the items cannot fit their
// periods at all: when the line time they need in the shortest period is longer than that
// period. It reads no clock; the engine gives it the time, a test a virtual one.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <vector>

class PollSchedule {
  public:
    using Clock = std::chrono::steady_clock;
    using Duration = Clock::duration;

    // One period per item; closing is the period of the closing read, none without one.
    // Everything falls due at start.
    PollSchedule(const std::vector<Duration> &periods, std::optional<Duration> closing,
                 Clock::time_point start);

    // What falls due at a moment: a flag per item, and the closing read.
    struct Pass {
        std::vector<bool> items;
        bool closing = false;
    };
    Pass Due(Clock::time_point now) const;
    // The earliest moment at which anything falls due.
    Clock::time_point Next() const;
    // Gives everything of pass its next due time: one period on, or now when that has passed.
    void Advance(const Pass &pass, Clock::time_point now);
    // How long the read of an item, or the closing read, took.
    void ItemTook(std::size_t item, Duration took);
    void ClosingTook(Duration took);

    // The line time needed in the shortest period, and that period.
    struct Need {
        Duration time{};
        Duration period{};
    };
    // What the items (and the closing read) need, once each has been read; none before, and
    // none when a period is 0 (read as often as the line allows).
    std::optional<Need> LineNeed() const;
    // True when the need is longer than the period: the reads cannot fit their periods.
    bool Overloaded() const;
    Duration ShortestPeriod() const;

  private:
    struct Entry {
        Duration period{};
        Clock::time_point due;
        std::optional<Duration> took;
    };
    std::vector<Entry> items_;
    std::optional<Entry> closing_;
};
