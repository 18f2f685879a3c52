// Builds trace lines in a fixed buffer, without the C library's formatted output, so a line
// costs no allocation and no locale.
#include "serial/trace_format.h"
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
    void Text(const char *text) {
        for (; *text != '\0'; ++text) {
            Char(*text);
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

// The port name as given, escaped like the bytes, so a name never breaks the line apart.
void Head(LineWriter &out, std::int64_t unixMs, const char *port) {
    Time(out, unixMs);
    out.Char(' ');
    for (const char *c = port; *c != '\0'; ++c) {
        EscapedByte(out, static_cast<unsigned char>(*c));
    }
    out.Char(' ');
}

const char *TagText(TraceTag tag) {
    switch (tag) {
    case TraceTag::kSent:
        return "TX";
    case TraceTag::kReceived:
        return "RX";
    case TraceTag::kPurged:
        return "PURGED";
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

} // namespace

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
    out.Text("-- ");
    out.Text(event);
    out.End();
}

void FormatTraceOpen(TraceLine &line, std::int64_t unixMs, const PortSettings &settings) {
    LineWriter out(line);
    Head(out, unixMs, settings.portName);
    out.Text("-- open ");
    out.Number(settings.line.baudRate);
    out.Char(' ');
    out.Number(settings.line.dataBits & 0xFFU);
    out.Char(ParityLetter(settings.line.parity & 0xFFU));
    out.Text(StopBitsText(settings.line.stopBits & 0xFFU));
    out.Text(" flags 0x");
    out.Hex(settings.openFlags, 4);
    out.End();
}
