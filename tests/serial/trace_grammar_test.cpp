// The text of the line trace: time stamps, escaping, and the open line.
#include "serial/trace_format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

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

} // namespace
