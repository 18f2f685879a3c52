// The cases every serial backend answers alike, whatever the platform: run by the POSIX
// backend's test and by the Win32 backend's test under Wine, each linking
// backend_conformance.cpp and supplying the names below.
#pragma once

#include <string>

// A serial port the test program can open with 9600 8N1 while it runs.
std::string ConformancePortName();
// The name, short enough for the port name field, of an existing plain file: a device
// that opens but has no line state.
std::string ConformancePlainFileName();
