// The host support library as the driver and a host use it: formats, sink and filter.
#include "hostlog.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::size_t FormatInto(char *out, std::size_t size, const char *format, ...) {
    va_list args;
    va_start(args, format);
    const std::size_t length = hostlog_vformat(out, size, format, args);
    va_end(args);
    return length;
}

template <typename... Args> std::string Format(const char *format, Args... args) {
    char text[64];
    FormatInto(text, sizeof text, format, args...);
    return text;
}

TEST(HostLogFormat, UnderstandsTheDriversConversions) {
    EXPECT_EQ(Format("ZEL%02d: rc = %d ", 7, -2), "ZEL07: rc = -2 ");
    EXPECT_EQ(Format("valType = %C, val = %f", 'P', 2.5), "valType = P, val = 2.500000");
    EXPECT_EQ(Format("\treply: %s", "L01S=12.5\r"), "\treply: L01S=12.5\r");
    EXPECT_EQ(Format("%s|%s", nullptr, ""), "(null)|");
    EXPECT_EQ(Format("100%% %5.1f %x", 3.14159, 255), "100%   3.1 ff");
    EXPECT_EQ(Format("%C", 0xB3), "\xB3") << "a code page 437 character passes unchanged";
    EXPECT_EQ(Format("trailing %"), "trailing %");
}

TEST(HostLogFormat, CutsLongTextButReportsItsLength) {
    char text[8];
    const std::string long_text(100, 'x');
    EXPECT_EQ(Format("%s", long_text.c_str()).size(), 63u);
    EXPECT_EQ(FormatInto(text, sizeof text, "abcdefghij"), 10u);
    EXPECT_STREQ(text, "abcdefg");
}

std::string ReadFile(const std::string &path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Checks the "YYYY-MM-DD HH:MM:SS.mmm " stamp of each line and returns the lines without it.
std::vector<std::string> Unstamped(const std::string &text) {
    static const std::string shape = "dddd-dd-dd dd:dd:dd.ddd ";
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        bool stamped = line.size() > shape.size();
        for (std::size_t i = 0; stamped && i < shape.size(); ++i) {
            stamped = shape[i] == 'd' ? std::isdigit(static_cast<unsigned char>(line[i])) != 0
                                      : line[i] == shape[i];
        }
        lines.push_back(stamped ? line.substr(shape.size()) : "unstamped: " + line);
    }
    return lines;
}

TEST(HostLogSink, WritesStampedLinesAndFiltersByLevel) {
    const std::string path = ::testing::TempDir() + "hostlog_sink.log";
    std::remove(path.c_str());
    ASSERT_EQ(hostlog_open(path.c_str()), 0);
    hostlog_set_mask(32);
    err(32, "ZEL%02d: EM: ColdStart(): Fail to open %s", 1, "ttyS9");
    err(64, "\trequest: %s", "hidden");
    hostlog_set_mask(0xFFFFFFFFu);
    err(64, "\treply: %s", "shown");
    EXPECT_EQ(hostlog_open("/nonexistent-folder/x.log"), -1) << "the sink stays as it was";
    err(32, "still here");
    hostlog_open(nullptr);

    EXPECT_EQ(Unstamped(ReadFile(path)),
              (std::vector<std::string>{"[32] ZEL01: EM: ColdStart(): Fail to open ttyS9",
                                        "[64] \treply: shown", "[32] still here"}));
}

} // namespace
