// The model of what a session reads: each item's result, rounds of them, and the line's
// changes between rounds. The output formats show these; the gateway publishes them.
#pragma once

#include "failure.h"
#include "reading.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

struct ItemResult {
    double hostValue = 0; // as the driver delivered it
    Shown shown;
    std::optional<ReadProblem> problem;
    bool lineFailed = false; // the port itself failed during the read (hang-up, vanished)
    std::string skipped;     // why the item was not read: "line down", "not read"
};

struct Round {
    long long number = 0;
    std::chrono::system_clock::time_point time;
    std::vector<ItemResult> results; // one per item, in the items' order
    bool missed = false;             // the line was down: nothing was read
    bool cut = false;                // stopped before every item was read
};

// A change of the line during a poll, for the JSON event lines.
struct LineNews {
    std::chrono::system_clock::time_point time;
    std::string event; // "line down" or "line back"
    std::string port;
    double downSeconds = 0; // for "line back"
    long long missedRounds = 0;
};

// What the first failed read of the round found; nothing when every read succeeded.
std::optional<FailureKind> FirstProblem(const Round &round);
