// The driver as a host holds it: the release library loaded at run time, one instance
// started on a port, and the items the benchmark reads and writes.
#pragma once

#include "hosted_driver.h"

#include <cstdint>
#include <string>

namespace bench {

class DriverSide {
  public:
    // Loads the library, starts the instance on port and defines the items; throws
    // std::runtime_error on any failure.
    DriverSide(const std::string &library, const std::string &port);

    // Each throws std::runtime_error when the command does not return 0.
    void SingleRead();  // L01S1, a float
    void BlockRead();   // L29S0, the 4 values of the last line of the loop summary
    void SingleWrite(); // L01P0 = 45, a tabulated value that the instrument confirms
    void ColdStart();   // opens the port and runs the adapter dialogue
    void Shutdown();

  private:
    struct Item {
        char address[8] = {};
        ItemDefinition definition{};
        std::int16_t values[32] = {};
        ItemRequest Request();
    };

    void Define(Item &item, const char *address, std::int32_t type, std::int32_t count);
    void ExpectOk(std::int32_t command, void *parameters, const char *what);

    HostedDriver driver_;
    std::string port_;
    Item setPoint_;
    Item lastLoop_;
    Item band_;
};

} // namespace bench
