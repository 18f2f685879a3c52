// How em1 reaches the instrument: the serial port's name and its line, as the command line and
// the gateway's configuration give them, under the same option names.
#pragma once

#include "em_driver.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct PortOptions {
    std::string name;  // fitted to the driver's 11 characters; empty when not given
    std::string given; // as given: a link is followed anew when the line is reopened
    // Line settings; those not given come from the driver's self-description.
    std::optional<std::uint16_t> baudRate;
    std::optional<std::uint16_t> dataBits;
    std::optional<std::uint16_t> stopBits; // the driver's code: 0 one, 1 one and a half, 2 two
    std::optional<std::uint16_t> parity;   // the driver's code: 0 none .. 4 space
    std::uint16_t dtr = 0;                 // EM_OPEN_DTR_* bits; off by default
    std::uint16_t rts = EM_OPEN_RTS_ON;    // EM_OPEN_RTS_* bits; on by default
    std::int32_t replyTimeout = 100;       // units of 10 ms
    bool operator==(const PortOptions &) const = default;
};

// The modem lines that ColdStart sets by itself: DTR off, RTS on.
bool UsesStartupLines(const PortOptions &port);

// Reads the port option named by its long name (--port, --baud, --data-bits, --parity,
// --stop-bits, --dtr, --rts, --timeout) with its value into port. False, with nothing read,
// when option is none of them; throws UsageError for a value the option does not take.
bool ReadPortOption(PortOptions &port, std::string_view option, std::string_view value);

// Whether option is the long name of a port option.
bool IsPortOption(std::string_view option);

// The long name of a port option's letter (p --port, b --baud); empty for any other letter.
std::string_view PortOptionOfLetter(char letter);
