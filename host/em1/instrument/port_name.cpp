#include "port_name.h"

#include "em_driver.h"
#include "failure.h"
#include "platform.h"

#include <optional>

namespace {
constexpr std::size_t kMaxName = sizeof(PortSettings::portName) - 1;
constexpr std::string_view kDevFolder = "/dev/";
} // namespace

namespace {

std::optional<std::string> Fitted(std::string_view name) {
    if (name.size() <= kMaxName) {
        return std::string(name);
    }
    if (name.starts_with(kDevFolder) && name.size() - kDevFolder.size() <= kMaxName) {
        return std::string(name.substr(kDevFolder.size()));
    }
    return std::nullopt;
}

} // namespace

std::string FitPortName(std::string_view option, std::string_view name) {
    if (name.empty()) {
        throw UsageError(std::string(option) + ": needs a port name such as ttyUSB0 or COM5");
    }
    if (auto fitted = Fitted(name)) {
        return *fitted;
    }
    // A stable link such as /dev/serial/by-id/usb-...: the device it names.
    if (auto fitted = Fitted(ResolvedPortName(std::string(name)))) {
        return *fitted;
    }
    throw UsageError(std::string(option) + ": '" + std::string(name) + "' has " +
                     std::to_string(name.size()) + " characters; the driver takes port names of " +
                     "at most " + std::to_string(kMaxName) +
                     " (without /dev/); make a shorter link to the device, e.g. "
                     "ln -s DEVICE /tmp/em1");
}
