// Line settings and instance state in words.
#pragma once

#include "em_driver.h"

#include <string>

// "9600 baud, 8 data bits, one stop bit, no parity".
std::string LineInWords(const LineSettings &line);

// "9600 8N1".
std::string LineInShort(const LineSettings &line);

// The port, its line, the reply timeout and the adapter, as the DriverState holds them.
std::string StateInWords(const DriverState &state);
