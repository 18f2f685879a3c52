// The host support library as the driver and a host use it: formats, sink and filter.
#include "hostlog.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cfloat>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <type_traits>
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

// The whole text, however long.
template <typename... Args> std::string Whole(const char *format, Args... args) {
    std::string text(FormatInto(nullptr, 0, format, args...), '\0');
    FormatInto(text.data(), text.size() + 1, format, args...);
    return text;
}

TEST(HostLogFormat, TakesFieldsFromTheArgumentsAndEveryLengthModifier) {
    const char unterminated[3] = {'a', 'b', 'c'};
    EXPECT_EQ(Whole("[%*d|%-*d|%*d]", 5, 42, 4, 7, -4, 7), "[   42|7   |7   ]");
    EXPECT_EQ(Whole("[%.*f|%.*f|%*.*s]", 2, 3.14159, -1, 1.5, 6, 3, "abcdef"),
              "[3.14|1.500000|   abc]");
    EXPECT_EQ(Whole("%.3s|%.*s", unterminated, 2, unterminated), "abc|ab")
        << "text is read no further than its precision";
    EXPECT_EQ(Whole("%hhd %hhx %hd %hu", 300, 0x1FF, 70000, 70000), "44 ff 4464 4464");
    EXPECT_EQ(Whole("%ld %lu %lld %llx", -5L, 5UL, LLONG_MIN, ULLONG_MAX),
              "-5 5 -9223372036854775808 ffffffffffffffff");
    EXPECT_EQ(Whole("%jd %ju %zu %zd %td %tx", INTMAX_MIN, UINTMAX_MAX, SIZE_MAX,
                    static_cast<std::make_signed_t<std::size_t>>(-3), PTRDIFF_MIN,
                    static_cast<std::make_unsigned_t<std::ptrdiff_t>>(255)),
              std::to_string(INTMAX_MIN) + " " + std::to_string(UINTMAX_MAX) + " " +
                  std::to_string(SIZE_MAX) + " -3 " + std::to_string(PTRDIFF_MIN) + " ff");
    EXPECT_EQ(Whole("%lf %Lf %.2Le %LG", 2.5, 1.5L, 12345.0L, 0.5L),
              "2.500000 1.500000 1.23e+04 0.5");
    EXPECT_EQ(Whole("%-3c|%3C|%p", 'x', 'y', nullptr).substr(0, 8), "x  |  y|");
    EXPECT_EQ(Whole("%.512f", 1.0).size(), 514u) << "the largest precision a number takes";
    EXPECT_EQ(Whole("%.0Lf", LDBL_MAX).size(), 4933u) << "the longest number text";
}

// Each format would read its one argument if its first conversion were accepted; the "%d"
// after it shows that no later conversion reads one either.
TEST(HostLogFormat, RefusesWhatItCannotReadSafely) {
    int written = -1;
    const wchar_t wide[] = L"wide";
    const char *const refused[] = {
        "%n|%d",  "%ls|%d", "%lc|%d",   "%hs|%d",    "%Ld|%d",
        "%hf|%d", "%zs|%d", "%lp|%d",   "%1$d|%d",   "%qd|%d",
        "%y|%d",  "%5%|%d", "%513d|%d", "%.513f|%d", "%99999999999999999999d|%d",
    };
    for (const char *format : refused) {
        EXPECT_EQ(Whole(format, &written, wide, 1), format);
    }
    EXPECT_EQ(written, -1) << "%n writes nothing";
    EXPECT_EQ(Whole("%d %s %ls %d %s", 1, "one", wide, 2, "two"), "1 one %ls %d %s")
        << "conversions before a refusal are formatted";
    EXPECT_EQ(Whole("%*d|%d", 513, 1, 2), "%*d|%d") << "a width from the arguments too";
    EXPECT_EQ(Whole("%.*e|%d", 600, 1.0, 2), "%.*e|%d");
    EXPECT_EQ(Whole("%*d|%d", INT_MIN, 1, 2), "%*d|%d");
    EXPECT_EQ(Whole("end %5"), "end %5");
    EXPECT_EQ(Whole("end %l"), "end %l");
}

TEST(HostLogFormat, KeepsAReplyOfAnyLengthWhole) {
    const std::string reply = std::string(589, 'R') + "\r\x03";
    ASSERT_EQ(reply.size(), 591u);
    EXPECT_EQ(Whole("\treply: %s", reply.c_str()), "\treply: " + reply);
    EXPECT_EQ(Whole("%.600s|%.99999999999s|%512s|", reply.c_str(), reply.c_str(), "x").size(),
              591u + 1 + 591 + 1 + 512 + 1);
    char cut[16];
    EXPECT_EQ(FormatInto(cut, sizeof cut, "\treply: %s", reply.c_str()), 8u + 591u)
        << "the length of the whole text";
    EXPECT_STREQ(cut, "\treply: RRRRRRR");
}

TEST(HostLogFormat, CutsLongTextButReportsItsLength) {
    char text[8];
    const std::string longText(100, 'x');
    EXPECT_EQ(Format("%s", longText.c_str()).size(), 63u);
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

TEST(HostLogSink, WritesOneWholeLinePerCallWhateverItsLength) {
    const std::string path = ::testing::TempDir() + "hostlog_long.log";
    std::remove(path.c_str());
    ASSERT_EQ(hostlog_open(path.c_str()), 0);
    const std::string reply = std::string(590, 'R') + "\r";
    const std::string huge(5000, 'H');
    EXPECT_EQ(err(64, "\treply: %s", reply.c_str()), static_cast<int>(8 + reply.size()));
    EXPECT_EQ(err(64, "\tEM: reply: %s|%s", huge.c_str(), reply.c_str()),
              static_cast<int>(12 + huge.size() + 1 + reply.size()));
    hostlog_open(nullptr);

    EXPECT_EQ(Unstamped(ReadFile(path)),
              (std::vector<std::string>{"[64] \treply: " + reply,
                                        "[64] \tEM: reply: " + huge + "|" + reply}));
}

} // namespace
