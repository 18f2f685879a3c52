#include "poll_schedule.h"

#include <algorithm>

PollSchedule::PollSchedule(const std::vector<Duration> &periods, std::optional<Duration> closing,
                           Clock::time_point start) {
    for (const Duration period : periods) {
        items_.push_back(Entry{period, start, std::nullopt});
    }
    if (closing) {
        closing_ = Entry{*closing, start, std::nullopt};
    }
}

PollSchedule::Pass PollSchedule::Due(Clock::time_point now) const {
    Pass pass;
    for (const Entry &entry : items_) {
        pass.items.push_back(entry.due <= now);
    }
    pass.closing = closing_ && closing_->due <= now;
    return pass;
}

PollSchedule::Clock::time_point PollSchedule::Next() const {
    auto next = Clock::time_point::max();
    for (const Entry &entry : items_) {
        next = std::min(next, entry.due);
    }
    return closing_ ? std::min(next, closing_->due) : next;
}

void PollSchedule::Advance(const Pass &pass, Clock::time_point now) {
    const auto advance = [now](Entry &entry) {
        entry.due = std::max(entry.due + entry.period, now);
    };
    for (std::size_t i = 0; i < items_.size() && i < pass.items.size(); ++i) {
        if (pass.items[i]) {
            advance(items_[i]);
        }
    }
    if (pass.closing && closing_) {
        advance(*closing_);
    }
}

void PollSchedule::ItemTook(std::size_t item, Duration took) {
    if (item < items_.size()) {
        items_[item].took = took;
    }
}

void PollSchedule::ClosingTook(Duration took) {
    if (closing_) {
        closing_->took = took;
    }
}

PollSchedule::Duration PollSchedule::ShortestPeriod() const {
    auto shortest = Duration::max();
    for (const Entry &entry : items_) {
        shortest = std::min(shortest, entry.period);
    }
    return closing_ ? std::min(shortest, closing_->period) : shortest;
}

std::optional<PollSchedule::Need> PollSchedule::LineNeed() const {
    const Duration shortest = ShortestPeriod();
    if (shortest <= Duration::zero() || shortest == Duration::max()) {
        return std::nullopt;
    }
    // Each entry is read shortest / period times in the shortest period.
    double seconds = 0;
    const auto add = [&](const Entry &entry) {
        seconds +=
            std::chrono::duration<double>(*entry.took).count() *
            (std::chrono::duration<double>(shortest) / std::chrono::duration<double>(entry.period));
    };
    for (const Entry &entry : items_) {
        if (!entry.took) {
            return std::nullopt;
        }
        add(entry);
    }
    if (closing_) {
        if (!closing_->took) {
            return std::nullopt;
        }
        add(*closing_);
    }
    return Need{std::chrono::duration_cast<Duration>(std::chrono::duration<double>(seconds)),
                shortest};
}

bool PollSchedule::Overloaded() const {
    const auto need = LineNeed();
    return need && need->time > need->period;
}
