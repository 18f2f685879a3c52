// Pieces of start-up shared with the port commands.
#pragma once

#include "interface/em_driver.h"

#include <cstdint>

// Runs the five-request adapter dialogue on the open port of call.state.
std::int32_t ConfigureAdapter(const DriverCall &call);

// The reply timeout to put on the port: the stored one, or the minimum of 100 units when
// the stored one is not positive (a negative timeout must not become an endless wait).
std::int32_t StoredReplyTimeout(const DriverState &state);

// Records a freshly opened handle, closing a handle still recorded so none is lost.
void StoreOpenedHandle(DriverState &state, SerialHandle handle);
