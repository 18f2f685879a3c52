#include "escape.h"

#include <cstdio>

namespace em1sim {

std::string EscapeBytes(std::string_view bytes) {
    std::string text;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\r')
            text += "\\r";
        else if (c == '\n')
            text += "\\n";
        else if (c == '\t')
            text += "\\t";
        else if (c == '\\' || c == '"')
            text += {'\\', c};
        else if (byte >= 0x20 && byte < 0x7f)
            text += c;
        else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            text += hex;
        }
    }
    return text;
}

} // namespace em1sim
