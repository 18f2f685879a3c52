// Standard output that is checked: data a user does not get must not end in success.
#pragma once

#include <cstdio>

// Flushes out and throws Failure (OutputFailed) with the reason when anything written to it
// was lost: a closed output, a full disk. A broken pipe ends em1 by SIGPIPE as usual.
void CheckOutput(std::FILE *out);

// CheckOutput at the end of a command that succeeded otherwise.
void FinishOutput(std::FILE *out);

// The end of help or version text: as FinishOutput, but a reader that closed the pipe before
// the end (em1 --help | head -1) took what it wanted, and that is no failure.
void FinishTextOutput(std::FILE *out);

// Throws Failure (OutputFailed) when standard output is closed, before anything opens a
// file that would take its place.
void RequireStandardOutput();
