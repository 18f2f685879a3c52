// Pieces of start-up shared with the port commands.
#pragma once

#include "interface/em_driver.h"

#include <cstdint>

// Runs the five-request adapter dialogue on the open port of call.state.
std::int32_t ConfigureAdapter(const DriverCall &call);

// The reply timeout to put on the port: the stored one, or the minimum of 100 units when
// the stored one is not positive (a negative timeout must not become an endless wait).
std::int32_t StoredReplyTimeout(const DriverState &state);

// Records a freshly opened handle. A port still recorded is closed first so none is lost,
// but only when this library opened it and still holds it: a record the host did not zero,
// or one whose port was closed behind the driver's back, names no port of the driver's.
void StoreOpenedHandle(DriverState &state, SerialHandle handle);
