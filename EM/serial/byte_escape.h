// How the driver shows a byte of the line as text, in the line trace and in its log: printable
// ASCII stands as it is; every other byte is escaped as \r, \n, \t, \\, \" or \xHH, so a line
// of text never breaks apart and reads beside a line analyser's capture. Each byte has exactly
// one text, so the text reads back as the bytes it shows.
#pragma once

#include <cstddef>
#include <string_view>

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

namespace byte_escape {

inline int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    return c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

// The byte the text of one or two characters stands for; -1 when it stands for none.
inline int ShortEscapeValue(std::string_view text) {
    if (text[0] != '\\') {
        return static_cast<unsigned char>(text[0]);
    }
    if (text.size() < 2) {
        return -1;
    }
    switch (text[1]) {
    case 'r':
        return '\r';
    case 'n':
        return '\n';
    case 't':
        return '\t';
    case '\\':
    case '"':
        return text[1];
    default:
        return -1;
    }
}

} // namespace byte_escape

// The byte whose text, as EscapeByte writes it, starts text; returns the characters that text
// takes (1 to 4), or 0 when text starts with no byte's text (a lone "\", "\x4" or "\x41",
// which EscapeByte writes as "A", or a byte that is never shown as it is).
inline std::size_t UnescapeByte(std::string_view text, unsigned char &byte) {
    if (text.empty()) {
        return 0;
    }
    std::size_t length = 0;
    int value = -1;
    if (text.size() >= kEscapeMax && text[0] == '\\' && text[1] == 'x') {
        const int high = byte_escape::HexValue(text[2]);
        const int low = byte_escape::HexValue(text[3]);
        value = high < 0 || low < 0 ? -1 : high * 16 + low;
        length = kEscapeMax;
    } else {
        value = byte_escape::ShortEscapeValue(text);
        length = text[0] == '\\' ? 2 : 1;
    }
    if (value < 0) {
        return 0;
    }
    char shown[kEscapeMax];
    const std::size_t shownLength = EscapeByte(static_cast<unsigned char>(value), shown);
    if (shownLength != length || text.substr(0, length) != std::string_view(shown, length)) {
        return 0;
    }
    byte = static_cast<unsigned char>(value);
    return length;
}
