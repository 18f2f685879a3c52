// The text of the line trace: one line per run of bytes or event on a serial port, readable
// beside a line analyser and easy to take apart with a script:
//
//     2025-01-02T03:04:05.678Z pts/3 -- open 9600 8N1 flags 0x0200
//     2025-01-02T03:04:05.901Z pts/3 TX "L01S?\r"
//     2025-01-02T03:04:06.120Z pts/3 RX "L01S=26.0\r\x03"
//     2025-01-02T03:04:06.170Z pts/3 PURGED "EXTRA"
//     2025-01-02T03:04:07.200Z pts/3 -- read timed out
//
// The time is UTC with milliseconds. Bytes are quoted; printable ASCII stands as it is, and
// every other byte is escaped: \r, \n, \t, \\, \" and \xHH.
#pragma once

#include "interface/em_driver.h"

#include <cstddef>
#include <cstdint>

enum class TraceTag { kSent, kReceived, kPurged };

// The longest run of bytes one line shows; a longer run goes on over further lines.
inline constexpr std::size_t kTraceRunMax = 600;
// Room for the longest line: time, port name, tag, and a run whose every byte is escaped.
inline constexpr std::size_t kTraceLineMax = 64 + 4 * kTraceRunMax + 4;

struct TraceLine {
    char text[kTraceLineMax];
    std::size_t length;
};

// A run of bytes sent, received or thrown away by a purge.
void FormatTraceBytes(TraceLine &line, std::int64_t unixMs, const char *port, TraceTag tag,
                      const unsigned char *bytes, std::size_t count);
// An event on the port, such as "read timed out".
void FormatTraceEvent(TraceLine &line, std::int64_t unixMs, const char *port, const char *event);
// The port opened, with its line settings: "open 9600 8N1 flags 0x0200".
void FormatTraceOpen(TraceLine &line, std::int64_t unixMs, const PortSettings &settings);
