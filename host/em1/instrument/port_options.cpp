#include "port_options.h"

#include "option_values.h"
#include "port_name.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::array<OptionWord, 10> kParities = {{
    {"none", 0},
    {"odd", 1},
    {"even", 2},
    {"mark", 3},
    {"space", 4},
    {"n", 0},
    {"o", 1},
    {"e", 2},
    {"m", 3},
    {"s", 4},
}};
constexpr std::array<OptionWord, 3> kStopBits = {{{"1", 0}, {"1.5", 1}, {"2", 2}}};
constexpr std::array<OptionWord, 3> kDtrLines = {{
    {"off", 0},
    {"on", EM_OPEN_DTR_ON},
    {"handshake", EM_OPEN_DTR_HANDSHAKE},
}};
constexpr std::array<OptionWord, 4> kRtsLines = {{
    {"off", 0},
    {"on", EM_OPEN_RTS_ON},
    {"handshake", EM_OPEN_RTS_HANDSHAKE},
    {"toggle", EM_OPEN_RTS_TOGGLE},
}};

constexpr std::uint16_t kLowestBaud = 50;

using Apply = void (*)(PortOptions &, std::string_view option, std::string_view value);

struct PortOption {
    std::string_view longName;
    char letter;
    Apply apply;
};

const std::array<PortOption, 8> kPortOptions = {{
    {"--port", 'p',
     [](PortOptions &p, std::string_view o, std::string_view v) {
         p.name = FitPortName(o, v);
         p.given = v;
     }},
    {"--baud", 'b',
     [](PortOptions &p, std::string_view o, std::string_view v) {
         p.baudRate = static_cast<std::uint16_t>(BoundedInteger(o, v, kLowestBaud, 65535));
     }},
    {"--data-bits", '\0',
     [](PortOptions &p, std::string_view o, std::string_view v) {
         p.dataBits = static_cast<std::uint16_t>(BoundedInteger(o, v, 5, 8));
     }},
    {"--parity", '\0',
     [](PortOptions &p, std::string_view o, std::string_view v) {
         p.parity = PickWord(o, v, kParities, "none, odd, even, mark, space");
     }},
    {"--stop-bits", '\0',
     [](PortOptions &p, std::string_view o, std::string_view v) {
         p.stopBits = PickWord(o, v, kStopBits, "1, 1.5, 2");
     }},
    {"--dtr", '\0',
     [](PortOptions &p, std::string_view o, std::string_view v) {
         p.dtr = PickWord(o, v, kDtrLines, "on, off, handshake");
     }},
    {"--rts", '\0',
     [](PortOptions &p, std::string_view o, std::string_view v) {
         p.rts = PickWord(o, v, kRtsLines, "on, off, handshake, toggle");
     }},
    {"--timeout", '\0',
     [](PortOptions &p, std::string_view o, std::string_view v) {
         // Milliseconds on the command line, units of 10 ms in the driver's records.
         p.replyTimeout = static_cast<std::int32_t>((BoundedInteger(o, v, 1000, 60000) + 9) / 10);
     }},
}};

} // namespace

bool UsesStartupLines(const PortOptions &port) {
    return port.dtr == 0 && port.rts == EM_OPEN_RTS_ON;
}

bool ReadPortOption(PortOptions &port, std::string_view option, std::string_view value) {
    for (const auto &known : kPortOptions) {
        if (known.longName == option) {
            known.apply(port, option, value);
            return true;
        }
    }
    return false;
}

bool IsPortOption(std::string_view option) {
    return std::any_of(kPortOptions.begin(), kPortOptions.end(),
                       [option](const PortOption &known) { return known.longName == option; });
}

std::string_view PortOptionOfLetter(char letter) {
    for (const auto &known : kPortOptions) {
        if (letter != '\0' && known.letter == letter) {
            return known.longName;
        }
    }
    return {};
}
