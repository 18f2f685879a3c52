// em1 --help, em1 COMMAND --help and em1 --version.
#pragma once

#include "commands.h"

#include <cstdio>

void PrintHelp(std::FILE *out);
void PrintCommandHelp(std::FILE *out, const CommandDefinition &command);
void PrintVersion(std::FILE *out);
