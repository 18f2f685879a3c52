// Port names as users type them, fitted to the driver's name field of 11 characters.
#pragma once

#include <string>
#include <string_view>

// The name to give the driver: the name itself when it fits, else the name without a
// leading "/dev/" (the driver looks up names without "/" under /dev/). Throws UsageError,
// naming the option, when neither fits.
std::string FitPortName(std::string_view option, std::string_view name);
