#include "line_settings.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <termios.h>
#include <utility>

namespace em1sim {
namespace {

constexpr std::array<std::pair<int, speed_t>, 12> kSpeeds{{
    {300, B300},
    {600, B600},
    {1200, B1200},
    {2400, B2400},
    {4800, B4800},
    {9600, B9600},
    {19200, B19200},
    {38400, B38400},
    {57600, B57600},
    {115200, B115200},
    {230400, B230400},
    {460800, B460800},
}};

tcflag_t SizeFlag(int dataBits) {
    switch (dataBits) {
    case 5:
        return CS5;
    case 6:
        return CS6;
    case 7:
        return CS7;
    default:
        return CS8;
    }
}

tcflag_t ParityFlags(char parity) {
    switch (parity) {
    case 'E':
        return PARENB;
    case 'O':
        return PARENB | PARODD;
    case 'M':
        return PARENB | PARODD | CMSPAR;
    case 'S':
        return PARENB | CMSPAR;
    default:
        return 0;
    }
}

} // namespace

std::vector<int> SupportedBauds() {
    std::vector<int> rates;
    rates.reserve(kSpeeds.size());
    for (const auto &[rate, code] : kSpeeds)
        rates.push_back(rate);
    return rates;
}

bool SupportedBaud(int baud) {
    return std::ranges::find(kSpeeds, baud, &std::pair<int, speed_t>::first) != kSpeeds.end();
}

std::chrono::nanoseconds CharacterTime(const LineSettings &settings) {
    const int bits = 1 + settings.dataBits + (settings.parity == 'N' ? 0 : 1) + settings.stopBits;
    return std::chrono::nanoseconds(std::int64_t{bits} * 1'000'000'000 / settings.baud);
}

std::optional<char> ParseParity(std::string_view text) {
    for (const auto &[name, code] :
         {std::pair{"none", 'N'}, std::pair{"even", 'E'}, std::pair{"odd", 'O'},
          std::pair{"mark", 'M'}, std::pair{"space", 'S'}})
        if (text == name || (text.size() == 1 && (text[0] == code || text[0] == code + 32)))
            return code;
    return std::nullopt;
}

bool MakeRaw(int fd) {
    termios attributes{};
    if (tcgetattr(fd, &attributes) != 0)
        return false;
    cfmakeraw(&attributes);
    attributes.c_cc[VMIN] = 1;
    attributes.c_cc[VTIME] = 0;
    return tcsetattr(fd, TCSANOW, &attributes) == 0;
}

bool ApplyLineSettings(int fd, const LineSettings &settings) {
    termios attributes{};
    if (tcgetattr(fd, &attributes) != 0)
        return false;
    cfmakeraw(&attributes);
    const auto speed = std::ranges::find(kSpeeds, settings.baud, &std::pair<int, speed_t>::first);
    const speed_t code = speed == kSpeeds.end() ? B9600 : speed->second;
    cfsetispeed(&attributes, code);
    cfsetospeed(&attributes, code);
    attributes.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    attributes.c_cflag |= SizeFlag(settings.dataBits) | ParityFlags(settings.parity) |
                          (settings.stopBits == 2 ? CSTOPB : 0) | CLOCAL | CREAD;
    attributes.c_cc[VMIN] = 1;
    attributes.c_cc[VTIME] = 0;
    return tcsetattr(fd, TCSANOW, &attributes) == 0;
}

} // namespace em1sim
