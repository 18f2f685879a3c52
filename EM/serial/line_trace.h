// The line trace: an opt-in record of every byte on each serial port, for the field. It is
// off unless the host process sets EM_TRACE to a file name before the port opens; the name
// is read once per port, when it opens. Sent bytes go on one line per write; received bytes
// gather into one line per reply, stamped with the time of their first byte, which ends at the
// next purge, write, event or close. Events (open, close, read timed out, write failed) have
// lines of their own. Nothing here allocates, and nothing reaches the host's log.
//
// The serial backends call these with the handle of an open port; for a port without a trace
// they return at once.
#pragma once

#include "interface/em_driver.h"

#include <cstdint>

void TraceOpen(SerialHandle port, const PortSettings &settings);
void TraceClose(SerialHandle port);
void TraceSent(SerialHandle port, const void *bytes, std::uint32_t count);
void TraceReceived(SerialHandle port, const void *bytes, std::uint32_t count);
void TracePurged(SerialHandle port, const void *bytes, std::uint32_t count);
void TraceEvent(SerialHandle port, const char *event);
// Ends the run of received or purged bytes: its line is written now.
void TraceFlush(SerialHandle port);
