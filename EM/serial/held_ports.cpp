#include "serial/held_ports.h"

namespace {

HeldPort heldPorts[kMaxHeldPorts];

} // namespace

HeldPort *FindHeldPort(SerialHandle handle) {
    if (handle == 0) {
        return nullptr;
    }
    for (HeldPort &port : heldPorts) {
        if (port.handle.load() == handle) {
            return &port;
        }
    }
    return nullptr;
}

HeldPort *ClaimHeldPort(SerialHandle handle) {
    if (HeldPort *stale = FindHeldPort(handle)) {
        return stale;
    }
    for (HeldPort &port : heldPorts) {
        SerialHandle expected = 0;
        if (port.handle.compare_exchange_strong(expected, handle)) {
            return &port;
        }
    }
    return nullptr;
}

void ReleaseHeldPort(SerialHandle handle) {
    if (HeldPort *port = FindHeldPort(handle)) {
        port->handle.store(0);
    }
}
