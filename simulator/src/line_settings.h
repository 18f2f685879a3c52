// Line settings of a real serial device: speed, character size, parity and stop bits.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace em1sim {

struct LineSettings {
    int baud = 9600;
    int dataBits = 8;
    char parity = 'N'; // N, E, O, M (mark) or S (space)
    int stopBits = 1;
};

// Puts the terminal behind fd into raw mode with these settings; false with errno set.
bool ApplyLineSettings(int fd, const LineSettings &settings);
// Raw mode alone, for a pseudo-terminal whose line settings mean nothing.
bool MakeRaw(int fd);
bool SupportedBaud(int baud);
std::vector<int> SupportedBauds();
// The time one character takes on the line: a start bit, the data bits, the parity bit (when
// there is parity) and the stop bits, at the baud rate. 9600 8N1 gives 10 bits, 1.0417 ms.
std::chrono::nanoseconds CharacterTime(const LineSettings &settings);
std::optional<char> ParseParity(std::string_view text);

} // namespace em1sim
