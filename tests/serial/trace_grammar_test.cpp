// The grammar of the line trace: time stamps, escaping and the open line as written, and
// every line read back as the writer wrote it, or refused.
#include "serial/trace_grammar.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

std::string Bytes(TraceTag tag, const std::string &bytes, const char *port = "COM5",
                  std::int64_t unixMs = 0) {
    TraceLine line{};
    FormatTraceBytes(line, unixMs, port, tag, reinterpret_cast<const unsigned char *>(bytes.data()),
                     bytes.size());
    return {line.text, line.length};
}

TEST(TraceFormat, TimeStampIsUtcWithMilliseconds) {
    const struct {
        std::int64_t unixMs;
        const char *text;
    } cases[] = {
        {0, "1970-01-01T00:00:00.000Z"},
        {-1, "1970-01-01T00:00:00.000Z"},            // a clock before 1970 shows the epoch
        {951782400123, "2000-02-29T00:00:00.123Z"},  // leap day of a leap century
        {1709251199999, "2024-02-29T23:59:59.999Z"}, // last moment of a leap day
        {1735689600000, "2025-01-01T00:00:00.000Z"},
        {4107542400000, "2100-03-01T00:00:00.000Z"}, // 2100 has no 29 February
        {253402300799999, "9999-12-31T23:59:59.999Z"},
    };
    for (const auto &[unixMs, text] : cases) {
        EXPECT_EQ(Bytes(TraceTag::kSent, "", "COM5", unixMs),
                  std::string(text) + " COM5 TX \"\"\n");
    }
}

TEST(TraceFormat, ControlBytesAreEscapedAndTextStandsAsItIs) {
    const struct {
        TraceTag tag;
        std::string bytes;
        const char *shown;
    } cases[] = {
        {TraceTag::kSent, "L01S?\r", R"(TX "L01S?\r")"},
        {TraceTag::kReceived, "L01S=26.0\r\x03", R"(RX "L01S=26.0\r\x03")"},
        {TraceTag::kReceived, "DMVX ***\r\n", R"(RX "DMVX ***\r\n")"},
        {TraceTag::kPurged, std::string("\0\t\x1B\x7F\x80\xFF", 6),
         R"(PURGED "\x00\t\x1B\x7F\x80\xFF")"},
        {TraceTag::kReceived, "a\"b\\c", R"(RX "a\"b\\c")"},
        {TraceTag::kReceived, "", R"(RX "")"},
    };
    for (const auto &[tag, bytes, shown] : cases) {
        EXPECT_EQ(Bytes(tag, bytes), "1970-01-01T00:00:00.000Z COM5 " + std::string(shown) + "\n");
    }
}

TEST(TraceFormat, PortNameCannotBreakTheLine) {
    EXPECT_EQ(Bytes(TraceTag::kSent, "x", "a\nb"), "1970-01-01T00:00:00.000Z a\\nb TX \"x\"\n");
}

TEST(TraceFormat, LongestRunOfEscapedBytesFitsOneWholeLine) {
    const std::string run(kTraceRunMax, '\x01');
    const std::string line = Bytes(TraceTag::kReceived, run, "ttyUSB0");
    EXPECT_EQ(line.size(),
              std::string("1970-01-01T00:00:00.000Z ttyUSB0 RX \"\"\n").size() + 4 * kTraceRunMax);
    EXPECT_EQ(line.substr(line.size() - 6), "\\x01\"\n");
}

TEST(TraceFormat, EventAndOpenLines) {
    TraceLine line{};
    FormatTraceEvent(line, 1735689600000, "pts/3", "read timed out");
    EXPECT_EQ(std::string(line.text, line.length),
              "2025-01-01T00:00:00.000Z pts/3 -- read timed out\n");

    const struct {
        PortSettings settings;
        const char *shown;
    } cases[] = {
        {{"COM5", {9600, 8, 0, 0}, 0x0200}, "COM5 -- open 9600 8N1 flags 0x0200"},
        {{"ttyS0", {19200, 7, 2, 2}, 0x0303}, "ttyS0 -- open 19200 7E2 flags 0x0303"},
        {{"ttyS1", {300, 5, 1, 3}, 0xA000}, "ttyS1 -- open 300 5M1.5 flags 0xA000"},
        {{"ttyS2", {50, 0x0108, 9, 7}, 0}, "ttyS2 -- open 50 8?? flags 0x0000"},
    };
    for (const auto &[settings, shown] : cases) {
        FormatTraceOpen(line, 0, settings);
        EXPECT_EQ(std::string(line.text, line.length),
                  "1970-01-01T00:00:00.000Z " + std::string(shown) + "\n");
    }
}

// A line as the writer wrote it, read back: its kind, fields and bytes (or event words).
struct ReadBack {
    TraceLineKind kind = TraceLineKind::kMalformed;
    TraceTag tag = TraceTag::kEvent;
    std::string time;
    std::string port; // as written
    std::string text; // as written
    std::string bytes;
};

ReadBack Read(const std::string &written) {
    ReadBack read;
    unsigned version = 0;
    TraceEntry entry;
    const std::string line = written.substr(0, written.find('\n'));
    read.kind = ReadTraceLine(line, version, entry);
    read.tag = entry.tag;
    read.time = entry.time;
    read.port = entry.port;
    read.text = entry.text;
    std::vector<unsigned char> bytes(read.text.size());
    std::size_t count = 0;
    if (read.kind == TraceLineKind::kEntry && UnescapeTraceText(read.text, bytes.data(), count)) {
        read.bytes.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(count));
    }
    return read;
}

TEST(TraceGrammar, EveryByteAndPortNameReadsBackAsWritten) {
    std::string everyByte;
    for (int byte = 0; byte < 256; ++byte) {
        everyByte += static_cast<char>(byte);
    }
    struct Case {
        std::string bytes;
        const char *port;
    };
    std::vector<Case> cases = {
        {everyByte, "COM5"},
        {std::string(kTraceRunMax, '\xFF'), "ttyUSB0"}, // longer than any reply, all escaped
        {"L01S?\r", "a b"},                             // a blank in the name is \x20
        {"", "a\nb\"c\\d"},
        {"x", "\x01\x7F\xFF \t"},
    };
    for (int byte = 0; byte < 256; ++byte) {
        cases.push_back({std::string(1, static_cast<char>(byte)), "pts/3"});
    }
    for (const auto &[bytes, port] : cases) {
        for (const TraceTag tag : {TraceTag::kSent, TraceTag::kReceived, TraceTag::kPurged}) {
            const ReadBack read = Read(Bytes(tag, bytes, port, 1735689600123));
            ASSERT_EQ(read.kind, TraceLineKind::kEntry) << Bytes(tag, bytes, port);
            EXPECT_EQ(read.tag, tag);
            EXPECT_EQ(read.time, "2025-01-01T00:00:00.123Z");
            EXPECT_TRUE(TracePortIs(read.port, port)) << read.port;
            EXPECT_EQ(read.bytes, bytes) << Bytes(tag, bytes, port);
        }
    }
    EXPECT_FALSE(TracePortIs("pts/3", "pts/30"));
    EXPECT_FALSE(TracePortIs("a\\x20b", "a b "));
}

TEST(TraceGrammar, EventsAndTheVersionReadBackByTheirWords) {
    TraceLine line{};
    for (const char *word : {kCloseEvent, kReadTimedOutEvent, kReadFailedEvent, kWriteFailedEvent,
                             kForeignReplyEvent}) {
        FormatTraceEvent(line, 0, "COM5", word);
        const ReadBack read = Read({line.text, line.length});
        ASSERT_EQ(read.kind, TraceLineKind::kEntry) << word;
        EXPECT_EQ(read.tag, TraceTag::kEvent);
        EXPECT_TRUE(TraceEventIs(read.text, word)) << word;
        EXPECT_FALSE(TraceEventIs(read.text, "read")) << word;
    }
    FormatTraceOpen(line, 0, PortSettings{"COM5", {9600, 8, 0, 0}, 0x0200});
    EXPECT_TRUE(TraceEventIs(Read({line.text, line.length}).text, kOpenEvent));

    FormatTraceVersion(line);
    EXPECT_EQ(std::string(line.text, line.length), "# EM-1 line trace version 1\n");
    unsigned version = 0;
    TraceEntry entry;
    EXPECT_EQ(ReadTraceLine("# EM-1 line trace version 1", version, entry),
              TraceLineKind::kVersion);
    EXPECT_EQ(version, kTraceVersion);
    EXPECT_EQ(ReadTraceLine("# EM-1 line trace version 12", version, entry),
              TraceLineKind::kVersion);
    EXPECT_EQ(version, 12U) << "a later version is named, for the reader to refuse";
}

TEST(TraceGrammar, ALineInAnyOtherFormIsMalformed) {
    for (const char *line : {
             "", "# EM-1 line trace version", "# EM-1 line trace version 01", "# a comment",
             "2025-01-01T00:00:00.000Z COM5 TX \"L01S?\\r", // no closing quote
             "2025-01-01T00:00:00.000Z COM5 TX \"a\"b\"",   // a quote inside
             "2025-01-01T00:00:00.000Z COM5 RX \"\\x0d\"",  // lower-case hex
             "2025-01-01T00:00:00.000Z COM5 RX \"\\x41\"",  // A is written as it is
             "2025-01-01T00:00:00.000Z COM5 RX \"\\q\"",    // no such escape
             "2025-01-01T00:00:00.000Z COM5 RX \"\x01\"",   // a control byte as it is
             "2025-01-01T00:00:00.000Z COM5 RX \"\\\"",     // a lone backslash
             "2025-01-01T00:00:00.000Z COM5 XX \"\"",       // no such tag
             "2025-01-01T00:00:00.000Z COM5 --",            // an event without words
             "2025-01-01T00:00:00.000Z COM5 -- \"quoted\"",
             "2025-01-01 00:00:00.000Z COM5 TX \"\"", // a time of another form
             "2025-01-01T00:00:00Z COM5 TX \"\"",
             "2025-01-01T00:00:00.000Z CO\\x20M5",      // no tag
             "2025-01-01T00:00:00.000Z C\\x41 TX \"\"", // a port name out of form
         }) {
        unsigned version = 0;
        TraceEntry entry;
        EXPECT_EQ(ReadTraceLine(line, version, entry), TraceLineKind::kMalformed) << line;
    }
}

} // namespace
