// How the driver shows a byte of the line as text, in the line trace and in its log: printable
// ASCII stands as it is; every other byte is escaped as \r, \n, \t, \\, \" or \xHH, so a line
// of text never breaks apart and reads beside a line analyser's capture.
#pragma once

#include <cstddef>

// The longest escape of one byte: \xHH.
inline constexpr std::size_t kEscapeMax = 4;

// Writes the text of byte to out; returns the number of characters written (1 to 4).
inline std::size_t EscapeByte(unsigned char byte, char (&out)[kEscapeMax]) {
    constexpr char kHexDigits[] = "0123456789ABCDEF";
    const auto two = [&out](char second) {
        out[0] = '\\';
        out[1] = second;
        return std::size_t{2};
    };
    switch (byte) {
    case '\r':
        return two('r');
    case '\n':
        return two('n');
    case '\t':
        return two('t');
    case '\\':
    case '"':
        return two(static_cast<char>(byte));
    default:
        break;
    }
    if (byte >= 0x20 && byte < 0x7F) {
        out[0] = static_cast<char>(byte);
        return 1;
    }
    out[0] = '\\';
    out[1] = 'x';
    out[2] = kHexDigits[byte >> 4];
    out[3] = kHexDigits[byte & 0xFU];
    return kEscapeMax;
}
