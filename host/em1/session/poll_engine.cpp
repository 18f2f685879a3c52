#include "poll_engine.h"

#include "item_reads.h"
#include "line_recovery.h"

#include <algorithm>

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kWaitStep{50};

ItemResult Skipped(const Item &item, const std::string &why) {
    ItemResult result;
    result.skipped = why;
    result.problem = ReadProblem{FailureKind::kNoAnswer, item.address + ": " + why};
    return result;
}

} // namespace

PollEngine::PollEngine(Instance &instance, const std::vector<Item> &items, StartOptions options,
                       std::function<bool()> stopRequested, RoundReader readRound)
    : instance_(instance), items_(items), options_(std::move(options)),
      stopRequested_(std::move(stopRequested)), readRound_(std::move(readRound)) {}

Round PollEngine::ReadOnce(long long number, PollListener &listener) {
    Round round;
    round.number = number;
    round.time = std::chrono::system_clock::now();
    if (readRound_) {
        round.results = readRound_();
        return round;
    }
    bool lineFailed = false;
    for (const auto &item : items_) {
        if (stopRequested_()) {
            round.results.push_back(Skipped(item, "not read"));
            round.cut = true;
            continue;
        }
        if (lineFailed) {
            round.results.push_back(Skipped(item, "line down"));
            continue;
        }
        listener.Idle(false);
        round.results.push_back(ReadItem(instance_, item));
        listener.ItemRead(round.results.size() - 1, round.results.back());
        lineFailed = round.results.back().lineFailed;
    }
    return round;
}

Round PollEngine::Missed(long long number) const {
    Round round;
    round.number = number;
    round.time = std::chrono::system_clock::now();
    round.missed = true;
    for (const auto &item : items_) {
        round.results.push_back(Skipped(item, "line down"));
    }
    return round;
}

void PollEngine::TryReopen(PollListener &listener) {
    if (ReopenLine(instance_, options_)) {
        listener.LineBack(Clock::now() - downSince_, missed_);
        down_ = false;
        return;
    }
    nextAttempt_ = Clock::now() + BackOff(++attempts_);
}

bool PollEngine::WaitForRound(Clock::time_point due, PollListener &listener) {
    while (!stopRequested_()) {
        listener.Idle(down_);
        const auto now = Clock::now();
        if (down_ && now >= nextAttempt_) {
            TryReopen(listener);
            continue;
        }
        if (now >= due) {
            return true;
        }
        auto until = due;
        if (down_) {
            until = std::min(until, nextAttempt_);
        }
        listener.Wait(std::min<Clock::duration>(kWaitStep, until - now));
    }
    return false;
}

std::optional<FailureKind> PollEngine::Run(const PollPlan &plan, PollListener &listener) {
    std::optional<FailureKind> status;
    bool overrunTold = false;
    auto due = Clock::now();
    for (long long number = 1; !plan.rounds || number <= *plan.rounds; ++number) {
        if (number > 1) {
            // A round that ran over its interval is followed at once, not by a burst. Rounds
            // back to back fall due, while the line is down, at its reopening attempts.
            due = std::max(due + plan.interval, Clock::now());
            if (down_ && plan.interval == Clock::duration::zero()) {
                due = std::max(due, nextAttempt_);
            }
            if (!WaitForRound(due, listener)) {
                break;
            }
        }
        if (stopRequested_()) {
            break;
        }
        if (down_) {
            ++missed_;
            const Round missed = Missed(number);
            listener.RoundDone(missed);
            status = status.value_or(FailureKind::kNoAnswer);
            continue;
        }
        const auto started = Clock::now();
        const Round round = ReadOnce(number, listener);
        listener.RoundDone(round);
        if (!status) {
            status = FirstProblem(round);
        }
        const auto took = Clock::now() - started;
        if (!overrunTold && number > 1 && plan.interval > Clock::duration::zero() &&
            took > plan.interval && !round.cut) {
            listener.RoundOverran(took, plan.interval);
            overrunTold = true;
        }
        if (std::any_of(round.results.begin(), round.results.end(),
                        [](const ItemResult &result) { return result.lineFailed; })) {
            down_ = true;
            downSince_ = Clock::now();
            attempts_ = 0;
            missed_ = 0;
            nextAttempt_ = downSince_ + BackOff(0);
            listener.LineDown(round);
        }
        if (round.cut) {
            break;
        }
    }
    return status;
}
