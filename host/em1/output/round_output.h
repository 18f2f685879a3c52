// The values of one or more rounds of reads, as a table, CSV with a header row, or JSON
// lines (one object per round, with a time stamp).
#pragma once

#include "command_line.h"
#include "item.h"
#include "reading.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
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

// Text as a JSON string, quoted and escaped.
std::string JsonString(const std::string &text);

// One item's result as the JSON of a poll: {"item":..., "value":..., "text":..., "cell":...,
// "scale":...}, or {"item":..., "error":...} when its read failed, with "foreign":... naming
// the replies to other requests that came in place of its own.
std::string JsonItem(const Item &item, const ItemResult &result);

class RoundWriter {
  public:
    virtual ~RoundWriter() = default;
    virtual void Write(const Round &round) = 0;
    // JSON lines carry the line's changes among the rounds; the other formats leave them to
    // standard error.
    virtual void Tell(const LineNews &) {}
};

// A writer to out for these items. A single round in table form is a list, one item a line;
// rounds of a poll make a table with one column per item.
std::unique_ptr<RoundWriter> MakeRoundWriter(std::FILE *out, OutputFormat format,
                                             const std::vector<Item> &items, bool singleRound,
                                             bool csvHeader = true);
