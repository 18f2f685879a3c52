// The poll's schedule on a virtual clock: every item is read at its own period, counted from
// when it fell due; reads that fell behind follow at once, never in a burst; and the items
// that cannot fit their periods are known, with the line time they need.
#include "poll_schedule.h"

#include <gtest/gtest.h>

#include <numeric>
#include <optional>
#include <vector>

namespace {

using Ms = std::chrono::milliseconds;
using Clock = PollSchedule::Clock;
constexpr Ms kRun{60000};

struct ScheduleCase {
    const char *name;
    std::vector<long> periods; // ms, one per item
    std::vector<long> reads;   // ms each read of the item takes
    long closingPeriod;        // ms; 0: no closing read
    long closingRead;
    std::vector<std::size_t> readsInRun; // per item, over kRun
    std::optional<long> needMs;          // in the shortest period; none: not measurable
    bool overloaded;
};

void PrintTo(const ScheduleCase &row, std::ostream *out) {
    *out << row.name;
}

// The start times of each item's reads over kRun, the reads taking the row's times, and the
// schedule at the end.
struct Simulated {
    std::vector<std::vector<Ms>> starts;
    std::optional<PollSchedule::Need> need;
    bool overloaded = false;
};

Simulated Simulate(const ScheduleCase &row) {
    const Clock::time_point zero{};
    std::vector<Clock::duration> periods;
    for (const long period : row.periods) {
        periods.push_back(Ms(period));
    }
    std::optional<Clock::duration> closing;
    if (row.closingPeriod > 0) {
        closing = Ms(row.closingPeriod);
    }
    PollSchedule schedule(periods, closing, zero);
    Simulated run;
    run.starts.resize(row.periods.size());
    Clock::time_point now = zero;
    while (now - zero < kRun) {
        now = std::max(now, schedule.Next());
        if (now - zero >= kRun) {
            break;
        }
        const PollSchedule::Pass pass = schedule.Due(now);
        for (std::size_t i = 0; i < row.periods.size(); ++i) {
            if (pass.items[i]) {
                run.starts[i].push_back(std::chrono::duration_cast<Ms>(now - zero));
                now += Ms(row.reads[i]);
                schedule.ItemTook(i, Ms(row.reads[i]));
            }
        }
        if (pass.closing) {
            now += Ms(row.closingRead);
            schedule.ClosingTook(Ms(row.closingRead));
        }
        schedule.Advance(pass, now);
    }
    run.need = schedule.LineNeed();
    run.overloaded = schedule.Overloaded();
    return run;
}

class PollScheduleRows : public ::testing::TestWithParam<ScheduleCase> {};

TEST_P(PollScheduleRows, ReadsEachItemAtItsPeriod) {
    const ScheduleCase &row = GetParam();
    const Simulated run = Simulate(row);
    for (std::size_t i = 0; i < row.periods.size(); ++i) {
        EXPECT_EQ(run.starts[i].size(), row.readsInRun[i]) << "item " << i;
    }
    ASSERT_EQ(run.need.has_value(), row.needMs.has_value());
    if (row.needMs) {
        EXPECT_EQ(std::chrono::duration_cast<Ms>(run.need->time).count(), *row.needMs);
    }
    EXPECT_EQ(run.overloaded, row.overloaded);
    if (!row.needMs || row.overloaded) {
        return;
    }
    // Read k of an item falls within a pass of every item after k periods: no drift.
    const long pass = std::accumulate(row.reads.begin(), row.reads.end(), row.closingRead);
    for (std::size_t i = 0; i < row.periods.size(); ++i) {
        for (std::size_t k = 0; k < run.starts[i].size(); ++k) {
            const long due = static_cast<long>(k) * row.periods[i];
            EXPECT_GE(run.starts[i][k].count(), due) << "item " << i << " read " << k;
            EXPECT_LE(run.starts[i][k].count(), due + pass) << "item " << i << " read " << k;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PollScheduleRows,
    ::testing::Values(ScheduleCase{"one period: every 2 s, the alerts after",
                                   {2000, 2000, 2000},
                                   {250, 250, 250},
                                   2000,
                                   300,
                                   {30, 30, 30},
                                   1050,
                                   false},
                      ScheduleCase{"periods of their own: 1 s, 5 s, 60 s",
                                   {1000, 5000, 60000},
                                   {250, 250, 250},
                                   1000,
                                   300,
                                   {60, 12, 1},
                                   604, // 250 + 300 + 250/5 + 250/60
                                   false},
                      ScheduleCase{"more than the line can carry: back to back, no burst",
                                   {1000, 1000, 1000, 1000, 1000},
                                   {250, 250, 250, 250, 250},
                                   1000,
                                   300,
                                   {39, 39, 39, 39, 39}, // every 1.55 s
                                   1550,
                                   true},
                      ScheduleCase{"overloaded by a slow item read once a minute",
                                   {1000, 1000, 1000, 1000, 60000},
                                   {250, 250, 250, 250, 250},
                                   0,
                                   0,
                                   {60, 60, 60, 60, 1},
                                   1004,
                                   true},
                      ScheduleCase{"period 0: as often as the line allows",
                                   {0, 0},
                                   {250, 250},
                                   0,
                                   0,
                                   {120, 120},
                                   std::nullopt,
                                   false}));

} // namespace
