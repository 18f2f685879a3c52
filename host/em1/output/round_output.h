// The values of one or more rounds of reads, as a table, CSV with a header row, or JSON
// lines (one object per round, with a time stamp).
#pragma once

#include "item.h"
#include "round.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

enum class OutputFormat { kTable, kCsv, kJson };

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

// Every problem of the round on standard error, a failed block's once.
void TellProblems(const Round &round);
