#include "port_name.h"

#include "em_driver.h"
#include "exit_status.h"

namespace {
constexpr std::size_t kMaxName = sizeof(PortSettings::portName) - 1;
constexpr std::string_view kDevFolder = "/dev/";
} // namespace

std::string FitPortName(std::string_view option, std::string_view name) {
    if (name.empty()) {
        throw UsageError(std::string(option) + ": needs a port name such as ttyUSB0 or COM5");
    }
    if (name.size() <= kMaxName) {
        return std::string(name);
    }
    if (name.starts_with(kDevFolder) && name.size() - kDevFolder.size() <= kMaxName) {
        return std::string(name.substr(kDevFolder.size()));
    }
    throw UsageError(std::string(option) + ": '" + std::string(name) + "' has " +
                     std::to_string(name.size()) + " characters; the driver takes port names of " +
                     "at most " + std::to_string(kMaxName) +
                     " (without /dev/); make a shorter link to the device, e.g. "
                     "ln -s DEVICE /tmp/em1");
}
