// The driver as em1 holds it: the library loaded at run time, as any host loads it, and an
// instance with the DriverState that em1 owns.
#pragma once

#include "driver_library.h"

#include <cstdint>
#include <string>

class Driver {
  public:
    // Loads the library; throws Failure (NoDriver) when it cannot be loaded.
    explicit Driver(const std::string &path);
    ~Driver();
    Driver(const Driver &) = delete;
    Driver &operator=(const Driver &) = delete;

    std::int32_t Call(DriverState *state, std::int32_t command, void *parameters) const;
    DriverInfo Info() const;
    const std::string &Path() const { return path_; }

  private:
    DriverLibrary library_;
    std::string path_;
};

// The driver library beside the em1 program.
std::string DefaultDriverPath();

// One driver instance. Its port is shut down when the instance ends.
class Instance {
  public:
    explicit Instance(const Driver &driver) : driver_(driver) {}
    ~Instance();
    Instance(const Instance &) = delete;
    Instance &operator=(const Instance &) = delete;

    std::int32_t Call(std::int32_t command, void *parameters = nullptr);
    DriverState &State() { return state_; }
    bool PortOpen() const { return state_.portHandle != 0; }

  private:
    const Driver &driver_;
    DriverState state_{};
};
