// What em1 needs of the platform besides the driver: terminals, the environment, and the
// reason a serial port cannot be opened.
#pragma once

#include "em_driver.h"

#include <cstdio>
#include <string>

bool IsTerminal(std::FILE *stream);

// Lets the terminal show UTF-8 text (the banner's frame).
void PrepareConsole();

// Sets a variable of this process's environment, seen by the driver once it is loaded.
// Returns false when the platform refuses.
bool SetEnvironment(const char *name, const char *value);

// Why the port with this name cannot be opened, in words, found by opening it the way the
// driver does: no such device, in use by another program, permission denied, not a serial
// device, or line settings the port does not take.
std::string DiagnosePortOpen(const std::string &name, const LineSettings &line);
