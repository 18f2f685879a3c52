// Reading items in rounds that survive the line: a port that fails (a hang-up, an adapter
// unplugged and plugged back) is reopened with growing pauses while the rounds go on; a
// round that falls due while the line is down is a missed round, never old values again.
// Each item may have a period of its own (PollSchedule); a round reads the items due. The
// engine reads and keeps time; what a round looks like is the listener's affair.
#pragma once

#include "item.h"
#include "loaded_driver.h"
#include "poll_schedule.h"
#include "round.h"
#include "startup.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

struct PollPlan {
    PollPlan(std::chrono::steady_clock::duration every, std::optional<long long> count)
        : interval(every), rounds(count) {}
    std::chrono::steady_clock::duration interval{};
    std::optional<long long> rounds; // none: until stopped
    // The period of each item; an empty list: interval for every item.
    std::vector<std::chrono::steady_clock::duration> periods;
    // The period of the listener's closing read (ReadClosing); none: no closing read.
    std::optional<std::chrono::steady_clock::duration> closing;
};

class PollListener {
  public:
    virtual ~PollListener() = default;
    // A round as read: whole, cut short by a stop or an outage, or missed altogether.
    virtual void RoundDone(const Round &round) = 0;
    virtual void LineDown(const Round &round) = 0;
    virtual void LineBack(std::chrono::steady_clock::duration outage, long long missed) = 0;
    // Told once, when the reads cannot fit their periods: they need more line time in the
    // shortest period (interval) than it lasts. With one period for every item, need is the
    // time a round takes.
    virtual void RoundOverran(std::chrono::steady_clock::duration need,
                              std::chrono::steady_clock::duration interval) = 0;
    // The listener's own read after a round, when the plan's closing period has come and the
    // line did not fail in the round.
    virtual void ReadClosing() {}
    // Each item as soon as it was read, before its round is done: index in the items.
    virtual void ItemRead(std::size_t /*index*/, const ItemResult & /*result*/) {}
    // Called before each read of a round and while waiting for the next round, at least every
    // few tens of milliseconds: the moment for other work on the instance (a write), as the
    // line allows, so that such work waits for one exchange at most, never for a round.
    virtual void Idle(bool /*lineDown*/) {}
    // Waits for the engine between its calls of Idle; a listener with work of its own may end
    // the wait early.
    virtual void Wait(std::chrono::steady_clock::duration duration) {
        std::this_thread::sleep_for(duration);
    }
};

// Reads every item of a round with one request (a block), one result per item.
using RoundReader = std::function<std::vector<ItemResult>()>;

class PollEngine {
  public:
    // stopRequested is asked between reads; once it answers true the round ends there.
    // Without readRound each item is read on its own.
    PollEngine(Instance &instance, const std::vector<Item> &items, StartOptions options,
               std::function<bool()> stopRequested, RoundReader readRound = {});

    // Runs the rounds; returns what the first failed read found, or nothing.
    std::optional<FailureKind> Run(const PollPlan &plan, PollListener &listener);

  private:
    Round ReadOnce(long long number, PollListener &listener, PollSchedule &schedule,
                   const PollSchedule::Pass &pass);
    Round Missed(long long number) const;
    std::vector<std::chrono::steady_clock::duration> PeriodsOf(const PollPlan &plan) const;
    // Waits until due, trying to reopen a failed line meanwhile. False when stopped.
    bool WaitForRound(std::chrono::steady_clock::time_point due, PollListener &listener);
    void TryReopen(PollListener &listener);

    Instance &instance_;
    const std::vector<Item> &items_;
    StartOptions options_;
    std::function<bool()> stopRequested_;
    RoundReader readRound_;
    bool down_ = false;
    std::chrono::steady_clock::time_point downSince_{};
    std::chrono::steady_clock::time_point nextAttempt_{};
    int attempts_ = 0;
    long long missed_ = 0;
};
