// The per-port state of the line trace, in a fixed table keyed by the port handle.
#include "serial/line_trace.h"
#include "serial/trace_file.h"
#include "serial/trace_grammar.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace {

constexpr std::size_t kMaxTracedPorts = 64;

struct TraceSlot {
    std::atomic<SerialHandle> port{0};
    TraceFile file = kNoTraceFile;
    char name[sizeof(PortSettings::portName)] = {};
    // The run of received or purged bytes not yet written.
    TraceTag runTag = TraceTag::kReceived;
    std::size_t runLength = 0;
    std::int64_t runStartMs = 0;
    unsigned char run[kTraceRunMax] = {};
};

TraceSlot traceSlots[kMaxTracedPorts];
// Ports with a trace: while there are none, every call returns without a search.
std::atomic<int> tracedPorts{0};

TraceSlot *FindSlot(SerialHandle port) {
    if (port == 0 || tracedPorts.load() == 0) {
        return nullptr;
    }
    for (TraceSlot &slot : traceSlots) {
        if (slot.port.load() == port) {
            return &slot;
        }
    }
    return nullptr;
}

TraceSlot *ClaimSlot(SerialHandle port) {
    for (TraceSlot &slot : traceSlots) {
        SerialHandle expected = 0;
        if (slot.port.compare_exchange_strong(expected, port)) {
            return &slot;
        }
    }
    return nullptr;
}

void WriteLine(const TraceSlot &slot, const TraceLine &line) {
    WriteTraceFile(slot.file, line.text, line.length);
}

void FlushRun(TraceSlot &slot) {
    if (slot.runLength == 0) {
        return;
    }
    TraceLine line;
    FormatTraceBytes(line, slot.runStartMs, slot.name, slot.runTag, slot.run, slot.runLength);
    WriteLine(slot, line);
    slot.runLength = 0;
}

void WriteEvent(TraceSlot &slot, const char *event) {
    FlushRun(slot);
    TraceLine line;
    FormatTraceEvent(line, TraceClockMs(), slot.name, event);
    WriteLine(slot, line);
}

// Adds bytes to the current run; a run of the other kind, or a full one, is written first.
void AddToRun(TraceSlot &slot, TraceTag tag, const void *bytes, std::uint32_t count) {
    const auto *data = static_cast<const unsigned char *>(bytes);
    if (slot.runLength > 0 && slot.runTag != tag) {
        FlushRun(slot);
    }
    while (count > 0) {
        if (slot.runLength == 0) {
            slot.runTag = tag;
            slot.runStartMs = TraceClockMs();
        }
        const std::size_t take = std::min<std::size_t>(count, kTraceRunMax - slot.runLength);
        std::memcpy(slot.run + slot.runLength, data, take);
        slot.runLength += take;
        data += take;
        count -= static_cast<std::uint32_t>(take);
        if (slot.runLength == kTraceRunMax) {
            FlushRun(slot);
        }
    }
}

void ReleaseSlot(TraceSlot &slot) {
    CloseTraceFile(slot.file);
    slot.file = kNoTraceFile;
    slot.runLength = 0;
    slot.port.store(0);
    tracedPorts.fetch_sub(1);
}

} // namespace

// A slot still naming this handle belongs to a port closed behind the driver's back; its
// trace ends here and a new one begins, with the grammar's version line before its open line.
void TraceOpen(SerialHandle port, const PortSettings &settings) {
    if (TraceSlot *stale = FindSlot(port)) {
        ReleaseSlot(*stale);
    }
    const TraceFile file = OpenTraceFile();
    if (file == kNoTraceFile) {
        return;
    }
    TraceSlot *slot = ClaimSlot(port);
    if (slot == nullptr) {
        CloseTraceFile(file);
        return;
    }
    slot->file = file;
    std::memcpy(slot->name, settings.portName, sizeof slot->name);
    slot->name[sizeof slot->name - 1] = '\0';
    slot->runLength = 0;
    tracedPorts.fetch_add(1);
    TraceLine line;
    FormatTraceVersion(line);
    WriteLine(*slot, line);
    FormatTraceOpen(line, TraceClockMs(), settings);
    WriteLine(*slot, line);
}

void TraceClose(SerialHandle port) {
    if (TraceSlot *slot = FindSlot(port)) {
        WriteEvent(*slot, kCloseEvent);
        ReleaseSlot(*slot);
    }
}

void TraceSent(SerialHandle port, const void *bytes, std::uint32_t count) {
    TraceSlot *slot = FindSlot(port);
    if (slot == nullptr) {
        return;
    }
    FlushRun(*slot);
    const std::int64_t now = TraceClockMs();
    const auto *data = static_cast<const unsigned char *>(bytes);
    do {
        const std::size_t take = std::min<std::size_t>(count, kTraceRunMax);
        TraceLine line;
        FormatTraceBytes(line, now, slot->name, TraceTag::kSent, data, take);
        WriteLine(*slot, line);
        data += take;
        count -= static_cast<std::uint32_t>(take);
    } while (count > 0);
}

void TraceReceived(SerialHandle port, const void *bytes, std::uint32_t count) {
    if (TraceSlot *slot = FindSlot(port)) {
        AddToRun(*slot, TraceTag::kReceived, bytes, count);
    }
}

void TracePurged(SerialHandle port, const void *bytes, std::uint32_t count) {
    if (TraceSlot *slot = FindSlot(port)) {
        AddToRun(*slot, TraceTag::kPurged, bytes, count);
    }
}

void TraceEvent(SerialHandle port, const char *event) {
    if (TraceSlot *slot = FindSlot(port)) {
        WriteEvent(*slot, event);
    }
}

void TraceFlush(SerialHandle port) {
    if (TraceSlot *slot = FindSlot(port)) {
        FlushRun(*slot);
    }
}
