// The driver as em1 holds it: the library loaded at run time, as any host loads it, and an
// instance with the DriverState that em1 owns.
#pragma once

#include "driver_library.h"
#include "line_trace.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

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

// Called with each line event of each call, for -vv.
using LineEcho = std::function<void(const LineEvent &)>;

// One driver instance, whose calls are followed in the line trace: the events of each call
// are kept until the next one. Its port is shut down when the instance ends.
class Instance {
  public:
    Instance(const Driver &driver, LineTrace &trace, LineEcho echo = {})
        : driver_(driver), trace_(trace), echo_(std::move(echo)) {}
    ~Instance();
    Instance(const Instance &) = delete;
    Instance &operator=(const Instance &) = delete;

    // The driver's result. Throws Failure (TraceUnreadable, TraceUnknown) when the trace does
    // not tell what the call did: a line em1 cannot read, or an open port the driver keeps no
    // trace of.
    std::int32_t Call(std::int32_t command, void *parameters = nullptr);
    DriverState &State() { return state_; }
    bool PortOpen() const { return state_.portHandle != 0; }
    // What the last call did on the line.
    const std::vector<LineEvent> &LastLine() const { return lastLine_; }

  private:
    std::string PortName() const;

    const Driver &driver_;
    LineTrace &trace_;
    LineEcho echo_;
    DriverState state_{};
    std::vector<LineEvent> lastLine_;
    bool portTraced_ = false; // the trace showed the open port's opening
};
