// The run's figures as a table for a person, as JSON for tools, and as a data file for the
// plot of time per command against the floor.
#pragma once

#include "results.h"

#include <cstdio>
#include <string>

namespace bench {

void PrintTable(const Results &results, const std::vector<Target> &targets, std::FILE *out);
// Both throw std::runtime_error when the file cannot be written.
void WriteJson(const Results &results, const std::vector<Target> &targets, const std::string &path);
// Per command, one block (a gnuplot index): the fraction of commands, then the time of the
// driver's and of the floor's command at that fraction, in ms past the floor's median.
void WritePlotData(const Results &results, const std::string &path);

} // namespace bench
