// Character classes of reply and number texts, fixed whatever locale the host has set.
#pragma once

inline constexpr bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The blanks that the C library's text-to-number conversions skip.
inline constexpr bool IsBlank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
