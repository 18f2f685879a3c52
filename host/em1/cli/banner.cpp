#include "banner.h"

#include <array>
#include <cstdint>
#include <vector>

namespace {

// Code page 437, bytes 0x80 to 0xFF.
constexpr std::array<std::uint16_t, 128> kHighHalf = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
    0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

constexpr unsigned char kVertical = 0xB3;
constexpr unsigned char kTopLeft = 0xDA;
constexpr std::size_t kTabStop = 8;

void AppendUtf8(std::string &out, unsigned char byte) {
    if (byte < 0x80) {
        out += static_cast<char>(byte);
        return;
    }
    const std::uint16_t code = kHighHalf[byte - 0x80];
    if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
    } else {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    }
    out += static_cast<char>(0x80 | (code & 0x3F));
}

std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string_view::npos;
         start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    lines.push_back(text.substr(start));
    return lines;
}

// The inner width of the frame: that of its top edge.
std::size_t FrameWidth(const std::vector<std::string_view> &lines) {
    for (const auto line : lines) {
        if (line.size() >= 2 && static_cast<unsigned char>(line[0]) == kTopLeft) {
            return line.size() - 2;
        }
    }
    return 0;
}

bool IsSide(std::string_view line) {
    return line.size() >= 2 && static_cast<unsigned char>(line.front()) == kVertical &&
           static_cast<unsigned char>(line.back()) == kVertical;
}

// The text between the sides with its tabs expanded, fitted to the frame: blanks at its end
// give way or are added so the right side lines up with the edges.
std::string FitInside(std::string_view inner, std::size_t width) {
    std::string laid;
    for (const char c : inner) {
        if (c == '\t') {
            laid.append(kTabStop - laid.size() % kTabStop, ' ');
        } else {
            laid += c;
        }
    }
    while (laid.size() > width && laid.back() == ' ') {
        laid.pop_back();
    }
    if (laid.size() < width) {
        laid.append(width - laid.size(), ' ');
    }
    return laid;
}

} // namespace

std::string BannerForTerminal(std::string_view cp437) {
    const auto lines = Lines(cp437);
    const std::size_t width = FrameWidth(lines);
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string line(lines[i]);
        if (width > 0 && IsSide(line) && line.find('\t') != std::string::npos) {
            line = line.front() + FitInside(lines[i].substr(1, lines[i].size() - 2), width) +
                   line.back();
        }
        for (const char c : line) {
            AppendUtf8(out, static_cast<unsigned char>(c));
        }
        if (i + 1 < lines.size()) {
            out += '\n';
        }
    }
    return out;
}
