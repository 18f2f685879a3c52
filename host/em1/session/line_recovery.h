// Getting the line back after the port failed (a hang-up, an adapter unplugged and plugged
// back): the port is closed and opened anew with the same name and settings, with growing
// pauses between attempts.
#pragma once

#include "loaded_driver.h"
#include "startup.h"

#include <chrono>
#include <functional>

// Closes the instance's port and opens it again with ReopenPort. True when it is open.
bool ReopenLine(Instance &instance, const StartOptions &options);

// The pause before attempt n (from 0): 0.25 s, doubling to at most 4 s.
std::chrono::milliseconds BackOff(int attempt);

// Tries ReopenLine until it succeeds, keepTrying answers false, or the deadline passes;
// waits BackOff between attempts through wait, which returns false when told to stop.
bool RecoverLine(Instance &instance, const StartOptions &options,
                 std::chrono::steady_clock::time_point deadline,
                 const std::function<bool(std::chrono::milliseconds)> &wait);
