// What em1 needs of the platform besides the driver: terminals, the environment, and the
// reason a serial port cannot be opened.
#pragma once

#include "em_driver.h"

#include <cstdio>
#include <string>

bool IsTerminal(std::FILE *stream);

// False when the descriptor of standard output is closed.
bool StandardOutputOpen();

// True when a write to standard output failed with errno error because it is a pipe whose
// reader has gone (head -1 read what it wanted and ended).
bool StandardOutputPipeClosed(int error);

// Lets the terminal show UTF-8 text (the banner's frame).
void PrepareConsole();

// Sets a variable of this process's environment, seen by the driver once it is loaded.
// Returns false when the platform refuses.
bool SetEnvironment(const char *name, const char *value);

// Makes an empty file that only this user can read and write, for the line trace that em1
// reads back. Returns its path, or an empty string when none can be made.
std::string MakePrivateFile();

// Why the driver would not write its line trace to path (it appends only to a regular file
// of this user, and follows no link), or an empty string when it would. The file is made
// when it does not exist yet.
std::string TraceFileProblem(const std::string &path);

// The device a port name stands for when it is a link (/dev/serial/by-id/...), or the
// name itself.
std::string ResolvedPortName(const std::string &name);

// Why the port with this name cannot be opened, in words, found by opening it the way the
// driver does: no such device, in use by another program, permission denied, not a serial
// device, or line settings the port does not take.
std::string DiagnosePortOpen(const std::string &name, const LineSettings &line);
