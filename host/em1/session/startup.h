// Bringing an instance up the way the command line asks, and making sure it can talk.
#pragma once

#include "loaded_driver.h"
#include "port_options.h"

struct StartOptions {
    PortOptions port;
    LineSettings line{};
    bool noStart = false;      // open the port without the adapter dialogue
    bool showProgress = false; // a live progress line while the dialogue runs
};

// The line settings the command line gives, the driver's defaults for the rest.
LineSettings ResolveLine(const PortOptions &port, const LineSettings &defaults);

// Starts the instance: ColdStart; or, when the modem lines differ from ColdStart's (DTR
// off, RTS on), the port settings recorded by em1, OpenPort and WarmStart; or with noStart
// only the recorded settings and OpenPort. Throws Failure: PortUnavailable with the reason
// in words when the port cannot be opened, NoAnswer when the adapter is not ready.
void StartInstance(Instance &instance, const StartOptions &options);

// Throws the failure of a port that the driver could not open, with the reason in words.
[[noreturn]] void ThrowPortFailure(const std::string &command, const std::string &name,
                                   const LineSettings &line);

// Fills the port settings of the instance's DriverState from the options, as ColdStart
// would, with the modem lines the options ask for.
void RecordPortSettings(DriverState &state, const PortOptions &port, const LineSettings &line);
