// The ports this library has opened and not yet closed, in one fixed table (the driver
// allocates nothing) that every platform backend keeps. The driver acts only on a port held
// here, so it never reads, writes, drains or closes a handle that is not its own.
#pragma once

#include "interface/em_driver.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

// One held port: its handle (0 marks a free slot) and what the backend records beside it.
struct HeldPort {
    std::atomic<SerialHandle> handle{0};
    // The read timeout, where the platform's port object keeps none (Linux).
    std::atomic<std::int32_t> readTimeoutMs{0};
    // What the handle was opened on, where the platform may hand its number out again for
    // something else (Linux: the device and inode of the descriptor).
    std::atomic<std::uint64_t> device{0};
    std::atomic<std::uint64_t> inode{0};
};

inline constexpr std::size_t kMaxHeldPorts = 64;

// The slot of a held handle; nullptr for 0 and for any handle not held.
HeldPort *FindHeldPort(SerialHandle handle);
// Takes a slot for a freshly opened handle. A slot still naming this handle belongs to one
// closed behind the driver's back, whose number the platform has handed out again: it is
// taken over. nullptr when the table is full.
HeldPort *ClaimHeldPort(SerialHandle handle);
// Frees the slot of handle, if it has one.
void ReleaseHeldPort(SerialHandle handle);
