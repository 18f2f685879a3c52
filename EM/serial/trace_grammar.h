// The grammar of the line trace: how a line is written and how it is read back, in one place.
// The driver writes its trace with it, and hosts that read the trace to learn what happened on
// the line (em1) compile the same source, so writer and reader cannot drift apart.
//
//     # EM-1 line trace version 1
//     2025-01-02T03:04:05.678Z pts/3 -- open 9600 8N1 flags 0x0200
//     2025-01-02T03:04:05.901Z pts/3 TX "L01S?\r"
//     2025-01-02T03:04:06.120Z pts/3 RX "L01S=26.0\r\x03"
//     2025-01-02T03:04:06.170Z pts/3 PURGED "EXTRA"
//     2025-01-02T03:04:07.200Z pts/3 -- read timed out
//
// Each port's trace begins with the version line, so a trace file starts with it and a reader
// that starts where a port opened meets it before that port's lines. Then one line per run of
// bytes or event: the time (UTC, milliseconds), the port name, the tag, and the quoted bytes or
// the event's words. Bytes are escaped as byte_escape.h shows them; in the port name a blank is
// \x20 too, so the name is always one field. Nothing here allocates or throws.
#pragma once

#include "interface/em_driver.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

// The version of the grammar below, named by the line that begins each port's trace.
inline constexpr unsigned kTraceVersion = 1;
inline constexpr std::string_view kTraceVersionPrefix = "# EM-1 line trace version ";

enum class TraceTag { kSent, kReceived, kPurged, kEvent };

// The words of the events. "open" is followed by the line settings.
inline constexpr char kOpenEvent[] = "open";
inline constexpr char kCloseEvent[] = "close";
inline constexpr char kReadTimedOutEvent[] = "read timed out";
// The port itself failed: a hang-up, a vanished device.
inline constexpr char kReadFailedEvent[] = "read failed";
inline constexpr char kWriteFailedEvent[] = "write failed";
// After the received bytes of a reply that named another request than the one sent (a late
// reply to an earlier request): the driver threw that reply away and read on for the reply to
// its own request. Received bytes after the event are that reply.
inline constexpr char kForeignReplyEvent[] = "foreign reply discarded";

// ---- Writing ----

// The longest run of bytes one line shows; a longer run goes on over further lines.
inline constexpr std::size_t kTraceRunMax = 600;
// Room for the longest line: time, port name, tag, and a run whose every byte is escaped.
inline constexpr std::size_t kTraceLineMax = 96 + 4 * kTraceRunMax + 4;

struct TraceLine {
    char text[kTraceLineMax];
    std::size_t length;
};

// "# EM-1 line trace version 1".
void FormatTraceVersion(TraceLine &line);
// A run of bytes sent, received or thrown away by a purge.
void FormatTraceBytes(TraceLine &line, std::int64_t unixMs, const char *port, TraceTag tag,
                      const unsigned char *bytes, std::size_t count);
// An event on the port, one of the words above.
void FormatTraceEvent(TraceLine &line, std::int64_t unixMs, const char *port, const char *event);
// The port opened, with its line settings: "open 9600 8N1 flags 0x0200".
void FormatTraceOpen(TraceLine &line, std::int64_t unixMs, const PortSettings &settings);

// ---- Reading ----

enum class TraceLineKind {
    kVersion,   // the version line; version holds its number, whichever it is
    kEntry,     // a line of this version's grammar
    kMalformed, // neither
};

// A line taken apart. The fields are views of the line as written: port and bytes escaped.
struct TraceEntry {
    std::string_view time; // 2025-01-02T03:04:05.678Z
    std::string_view port;
    TraceTag tag = TraceTag::kEvent;
    std::string_view text; // the escaped bytes between the quotes, or the event's words
};

// Reads one line, without its line end. A line of this grammar is taken only as the writer
// writes it: every field in place, and every byte in its one escaped form.
TraceLineKind ReadTraceLine(std::string_view line, unsigned &version, TraceEntry &entry);

// The bytes of an entry's escaped text, into bytes (text.size() bytes are always room enough);
// count is how many. False when the text holds no valid escaping.
bool UnescapeTraceText(std::string_view text, unsigned char *bytes, std::size_t &count);

// Whether the entry's port field names the port called name.
bool TracePortIs(std::string_view port, const char *name);

// Whether an event's words are word; for the open event, word followed by the line settings.
bool TraceEventIs(std::string_view text, std::string_view word);
