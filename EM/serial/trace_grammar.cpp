// Builds trace lines in a fixed buffer, without the C library's formatted output, so a line
// costs no allocation and no locale; reads them back the same way, strictly: a line is taken
// only in the one form the writer gives it.
#include "serial/trace_grammar.h"
#include "serial/byte_escape.h"

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr std::int64_t kMsPerDay = 86400000;

// Appends to a line; whatever does not fit is dropped, and a line always keeps room for its
// closing line break.
class LineWriter {
  public:
    explicit LineWriter(TraceLine &line) : line_(line) { line_.length = 0; }

    void End() { line_.text[line_.length++] = '\n'; }
    void Char(char c) {
        if (line_.length < sizeof line_.text - 1) {
            line_.text[line_.length++] = c;
        }
    }
    void Text(std::string_view text) {
        for (const char c : text) {
            Char(c);
        }
    }
    // A number in decimal, with leading zeros up to width digits.
    void Number(std::uint64_t value, int width = 1) {
        char digits[20];
        int count = 0;
        do {
            digits[count++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0 && count < static_cast<int>(sizeof digits));
        for (int pad = count; pad < width; ++pad) {
            Char('0');
        }
        while (count > 0) {
            Char(digits[--count]);
        }
    }
    void Hex(unsigned value, int digits) {
        for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) {
            Char(kHexDigits[(value >> shift) & 0xFU]);
        }
    }

  private:
    TraceLine &line_;
};

struct CivilDate {
    std::int64_t year;
    unsigned month;
    unsigned day;
};

// The proleptic Gregorian date of a day counted from 1970-01-01 (negative before it).
CivilDate DateOfDay(std::int64_t days) {
    const std::int64_t shifted = days + 719468;
    const std::int64_t era = (shifted >= 0 ? shifted : shifted - 146096) / 146097;
    const auto dayOfEra = static_cast<std::uint64_t>(shifted - era * 146097);
    const std::uint64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::uint64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::uint64_t monthIndex = (5 * dayOfYear + 2) / 153; // March is 0
    const auto day = static_cast<unsigned>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    const auto month = static_cast<unsigned>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    const std::int64_t year = static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2);
    return {year, month, day};
}

// "2025-01-02T03:04:05.678Z"; a time before 1970 prints as 1970-01-01T00:00:00.000Z.
void Time(LineWriter &out, std::int64_t unixMs) {
    const std::int64_t ms = unixMs < 0 ? 0 : unixMs;
    const CivilDate date = DateOfDay(ms / kMsPerDay);
    const auto msOfDay = static_cast<std::uint64_t>(ms % kMsPerDay);
    out.Number(static_cast<std::uint64_t>(date.year), 4);
    out.Char('-');
    out.Number(date.month, 2);
    out.Char('-');
    out.Number(date.day, 2);
    out.Char('T');
    out.Number(msOfDay / 3600000, 2);
    out.Char(':');
    out.Number(msOfDay / 60000 % 60, 2);
    out.Char(':');
    out.Number(msOfDay / 1000 % 60, 2);
    out.Char('.');
    out.Number(msOfDay % 1000, 3);
    out.Char('Z');
}

void EscapedByte(LineWriter &out, unsigned char byte) {
    char text[kEscapeMax];
    const std::size_t length = EscapeByte(byte, text);
    for (std::size_t i = 0; i < length; ++i) {
        out.Char(text[i]);
    }
}

// A blank in a port name is \x20, so the name is one field of the line.
constexpr char kPortBlank[] = "\\x20";

// The port name as given, escaped like the bytes, so a name never breaks the line apart.
void Head(LineWriter &out, std::int64_t unixMs, const char *port) {
    Time(out, unixMs);
    out.Char(' ');
    for (const char *c = port; *c != '\0'; ++c) {
        if (*c == ' ') {
            out.Text(kPortBlank);
        } else {
            EscapedByte(out, static_cast<unsigned char>(*c));
        }
    }
    out.Char(' ');
}

struct TagWord {
    TraceTag tag;
    std::string_view word;
};

constexpr TagWord kTagWords[] = {
    {TraceTag::kSent, "TX"},
    {TraceTag::kReceived, "RX"},
    {TraceTag::kPurged, "PURGED"},
    {TraceTag::kEvent, "--"},
};

std::string_view TagText(TraceTag tag) {
    for (const TagWord &entry : kTagWords) {
        if (entry.tag == tag) {
            return entry.word;
        }
    }
    return "--";
}

// N, O, E, M, S by the parity code; "?" for a code the platform does not know.
char ParityLetter(unsigned code) {
    constexpr char kLetters[] = "NOEMS";
    return code < sizeof kLetters - 1 ? kLetters[code] : '?';
}

const char *StopBitsText(unsigned code) {
    switch (code) {
    case 0:
        return "1";
    case 1:
        return "1.5";
    case 2:
        return "2";
    default:
        return "?";
    }
}

// ---- Reading ----

// "2025-01-02T03:04:05.678Z": four or more digits of the year, then the rest in place.
bool IsTime(std::string_view text) {
    constexpr std::string_view kShape = "-dd-ddTdd:dd:dd.dddZ";
    if (text.size() < 4 + kShape.size()) {
        return false;
    }
    const std::size_t year = text.size() - kShape.size();
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char expected = i < year ? 'd' : kShape[i - year];
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (expected == 'd' ? !digit : text[i] != expected) {
            return false;
        }
    }
    return true;
}

// The byte that starts text, in the port name's escaping: a blank is \x20, the rest as bytes.
std::size_t UnescapePortByte(std::string_view text, unsigned char &byte) {
    if (text.starts_with(kPortBlank)) {
        byte = ' ';
        return std::string_view(kPortBlank).size();
    }
    const std::size_t length = UnescapeByte(text, byte);
    return byte == ' ' ? 0 : length;
}

// Whether text is a whole run of escaped bytes, in the bytes' or the port name's escaping.
template <typename Unescape> bool EscapedThroughout(std::string_view text, Unescape unescape) {
    while (!text.empty()) {
        unsigned char byte = 0;
        const std::size_t length = unescape(text, byte);
        if (length == 0) {
            return false;
        }
        text.remove_prefix(length);
    }
    return true;
}

// The text before the first blank of rest, which then starts after that blank; false when
// rest holds no blank.
bool TakeField(std::string_view &rest, std::string_view &field) {
    const std::size_t blank = rest.find(' ');
    if (blank == std::string_view::npos) {
        return false;
    }
    field = rest.substr(0, blank);
    rest.remove_prefix(blank + 1);
    return true;
}

bool ReadTag(std::string_view word, TraceTag &tag) {
    for (const TagWord &entry : kTagWords) {
        if (entry.word == word) {
            tag = entry.tag;
            return true;
        }
    }
    return false;
}

// "# EM-1 line trace version N", N a decimal number without leading zeros.
bool ReadVersion(std::string_view line, unsigned &version) {
    if (!line.starts_with(kTraceVersionPrefix)) {
        return false;
    }
    const std::string_view digits = line.substr(kTraceVersionPrefix.size());
    if (digits.empty() || digits.size() > 9 || (digits[0] == '0' && digits.size() > 1)) {
        return false;
    }
    unsigned number = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') {
            return false;
        }
        number = number * 10 + static_cast<unsigned>(c - '0');
    }
    version = number;
    return true;
}

// An event's words: printable characters that stand as they are.
std::size_t PlainByte(std::string_view text, unsigned char &byte) {
    return UnescapeByte(text, byte) == 1 ? 1 : 0;
}

// The tag's text: quoted escaped bytes, or an event's words (not empty).
bool ReadText(std::string_view rest, TraceTag tag, std::string_view &text) {
    if (tag == TraceTag::kEvent) {
        text = rest;
        return !rest.empty() && EscapedThroughout(rest, PlainByte);
    }
    if (rest.size() < 2 || rest.front() != '"' || rest.back() != '"') {
        return false;
    }
    text = rest.substr(1, rest.size() - 2);
    return EscapedThroughout(text, UnescapeByte);
}

} // namespace

void FormatTraceVersion(TraceLine &line) {
    LineWriter out(line);
    out.Text(kTraceVersionPrefix);
    out.Number(kTraceVersion);
    out.End();
}

void FormatTraceBytes(TraceLine &line, std::int64_t unixMs, const char *port, TraceTag tag,
                      const unsigned char *bytes, std::size_t count) {
    LineWriter out(line);
    Head(out, unixMs, port);
    out.Text(TagText(tag));
    out.Text(" \"");
    for (std::size_t i = 0; i < count; ++i) {
        EscapedByte(out, bytes[i]);
    }
    out.Char('"');
    out.End();
}

void FormatTraceEvent(TraceLine &line, std::int64_t unixMs, const char *port, const char *event) {
    LineWriter out(line);
    Head(out, unixMs, port);
    out.Text(TagText(TraceTag::kEvent));
    out.Char(' ');
    out.Text(event);
    out.End();
}

void FormatTraceOpen(TraceLine &line, std::int64_t unixMs, const PortSettings &settings) {
    LineWriter out(line);
    Head(out, unixMs, settings.portName);
    out.Text(TagText(TraceTag::kEvent));
    out.Char(' ');
    out.Text(kOpenEvent);
    out.Char(' ');
    out.Number(settings.line.baudRate);
    out.Char(' ');
    out.Number(settings.line.dataBits & 0xFFU);
    out.Char(ParityLetter(settings.line.parity & 0xFFU));
    out.Text(StopBitsText(settings.line.stopBits & 0xFFU));
    out.Text(" flags 0x");
    out.Hex(settings.openFlags, 4);
    out.End();
}

TraceLineKind ReadTraceLine(std::string_view line, unsigned &version, TraceEntry &entry) {
    if (ReadVersion(line, version)) {
        return TraceLineKind::kVersion;
    }
    std::string_view rest = line;
    std::string_view tag;
    TraceEntry read;
    if (!TakeField(rest, read.time) || !IsTime(read.time) || !TakeField(rest, read.port) ||
        !EscapedThroughout(read.port, UnescapePortByte) || !TakeField(rest, tag) ||
        !ReadTag(tag, read.tag) || !ReadText(rest, read.tag, read.text)) {
        return TraceLineKind::kMalformed;
    }
    entry = read;
    return TraceLineKind::kEntry;
}

bool UnescapeTraceText(std::string_view text, unsigned char *bytes, std::size_t &count) {
    count = 0;
    while (!text.empty()) {
        const std::size_t length = UnescapeByte(text, bytes[count]);
        if (length == 0) {
            return false;
        }
        ++count;
        text.remove_prefix(length);
    }
    return true;
}

bool TracePortIs(std::string_view port, const char *name) {
    for (; *name != '\0'; ++name) {
        unsigned char byte = 0;
        const std::size_t length = UnescapePortByte(port, byte);
        if (length == 0 || byte != static_cast<unsigned char>(*name)) {
            return false;
        }
        port.remove_prefix(length);
    }
    return port.empty();
}

bool TraceEventIs(std::string_view text, std::string_view word) {
    const bool detailed = word == kOpenEvent && text.size() > word.size() &&
                          text.starts_with(word) && text[word.size()] == ' ';
    return text == word || detailed;
}
