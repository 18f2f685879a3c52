// A driver instance as a host holds it: the library loaded at run time, the instance's
// DriverState, and ZelMain calls with its driver number (1 unless set). End-to-end tests
// drive it.
#pragma once

#include "driver_library.h"

#include <cstdint>
#include <string>

class HostedDriver {
  public:
    HostedDriver() = default;
    HostedDriver(const HostedDriver &) = delete;
    HostedDriver &operator=(const HostedDriver &) = delete;
    // Shuts the instance down and unloads the library.
    ~HostedDriver();

    bool Load(const std::string &path, std::string &error);
    std::int32_t Call(std::int32_t command, void *params = nullptr);
    // ColdStart, enabled, 9600 8N1, with the reply timeout in units of 10 ms.
    std::int32_t ColdStart(const std::string &port, std::int32_t timeout = 100);
    // ReopenPort with 9600 8N1; a timeout of 0 keeps the stored one.
    std::int32_t Reopen(const std::string &port, std::int32_t timeout = 0);

    DriverState state{};
    std::int32_t driverNumber = 1;

  private:
    DriverLibrary library_;
};

// The whole text of a file; empty when it cannot be read.
std::string ReadTextFile(const std::string &path);
