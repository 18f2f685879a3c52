// How the driver's POSIX backend opens a port: which device a port name stands for, and the
// line settings it takes. Constants only, no code, like the vocabulary: em1 includes it to say
// why an open failed without linking any of the driver's code.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

// "NUL" (exactly) is the null device, opened with no line set-up; a name that starts with "/"
// is a path; any other name is a device in the device folder (ttyUSB0, ttyS0, pts/3).
inline constexpr std::string_view kNullDeviceName = "NUL";
inline constexpr std::string_view kNullDevicePath = "/dev/null";
inline constexpr std::string_view kDeviceFolder = "/dev/";

// The baud rates the line takes: the standard termios rates up to 57600.
inline constexpr std::array<std::uint16_t, 16> kStandardBaudRates = {
    50, 75, 110, 134, 150, 200, 300, 600, 1200, 1800, 2400, 4800, 9600, 19200, 38400, 57600};

// Stop bit codes, and the data bits each takes: one and a half stop bits with 5 data bits
// only, two stop bits with 6 to 8.
inline constexpr unsigned kOneStopBit = 0;
inline constexpr unsigned kOneAndHalfStopBits = 1;
inline constexpr unsigned kTwoStopBits = 2;
inline constexpr unsigned kOneAndHalfStopBitsDataBits = 5;
