// em1 reading the driver's line trace: the lines of its port, the reply to the last request,
// replies to other requests and a failed port; and a trace it cannot read, refused.
#include "failure.h"
#include "line_trace.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <unistd.h>

namespace {

constexpr const char *kVersion = "# EM-1 line trace version 1\n";
constexpr const char *kTime = "2025-01-02T03:04:05.678Z ";

// A line of port pts/3 at a fixed time.
std::string Line(const std::string &rest, const std::string &port = "pts/3") {
    return kTime + port + " " + rest + "\n";
}

// A trace file of the test's own, read by a LineTrace from its start.
class TraceFile {
  public:
    TraceFile()
        : path_(std::filesystem::temp_directory_path() /
                ("em1_line_trace_test_" + std::to_string(getpid()))) {
        std::ofstream(path_).close();
        trace_.emplace(path_.string());
    }
    ~TraceFile() {
        trace_.reset();
        std::filesystem::remove(path_);
        unsetenv("EM_TRACE");
    }
    std::vector<LineEvent> Take(const std::string &text) {
        std::ofstream(path_, std::ios::app | std::ios::binary) << text;
        return trace_->TakeNew("pts/3");
    }

  private:
    std::filesystem::path path_;
    std::optional<LineTrace> trace_;
};

TEST(LineTraceReading, TakesTheLinesOfItsPortWithTheirBytes) {
    TraceFile file;
    const auto events =
        file.Take(Line("TX \"x\"", "pts/30") + kVersion + Line("-- open 9600 8N1 flags 0x0200") +
                  Line("TX \"L01S?\\r\"") + Line("TX \"y\"", "pts/4") +
                  Line("RX \"L01S=1\\\\\\\"\\x00\\r\\x03\"") + kTime + "pts/3 RX \"unfinished");
    ASSERT_EQ(events.size(), 3U);
    EXPECT_EQ(events[0].kind, LineEvent::Kind::kEvent);
    EXPECT_EQ(events[0].bytes, "open 9600 8N1 flags 0x0200");
    EXPECT_EQ(events[1].bytes, "L01S?\r");
    EXPECT_EQ(events[2].kind, LineEvent::Kind::kReceived);
    EXPECT_EQ(events[2].bytes, std::string("L01S=1\\\"\0\r\x03", 11));
    EXPECT_EQ(file.Take("\"\n").size(), 1U) << "a line still being written is taken once whole";
}

TEST(LineTraceReading, ATraceItCannotReadEndsWhatEm1Does) {
    const struct {
        std::string text;
        FailureKind kind;
        std::string said;
    } cases[] = {
        {"# EM-1 line trace version 2\n" + Line("TX \"S?\\r\""), FailureKind::kTraceUnknown,
         "is of version 2, and this em1 reads version 1"},
        {Line("TX \"S?\\r\""), FailureKind::kTraceUnknown, "names no version before the lines"},
        {kVersion + Line("TX S?"), FailureKind::kTraceUnreadable, "holds a line em1 cannot read"},
        {kVersion + Line("SENT \"S?\\r\"", "pts/4"), FailureKind::kTraceUnreadable,
         "cannot tell what happened on the line, and reports nothing it cannot know"},
    };
    for (const auto &c : cases) {
        TraceFile file;
        try {
            file.Take(c.text);
            ADD_FAILURE() << "taken: " << c.text;
        } catch (const Failure &failure) {
            EXPECT_EQ(failure.Kind(), c.kind) << c.text;
            EXPECT_NE(std::string(failure.what()).find(c.said), std::string::npos)
                << failure.what();
        }
    }
}

TEST(LineTraceReading, TellsTheReplyToTheLastRequestAndWhatElseCame) {
    const struct {
        std::string lines;
        std::string request, reply, foreign;
        bool portFailed;
    } cases[] = {
        {Line("TX \"L01S?\\r\"") + Line("RX \"L01S=1\\r\\x03\""), "L01S?\r", "L01S=1\r\x03", "",
         false},
        // A refusal, then the status request that clears it: the refusal is the reply.
        {Line("TX \"L01S=5\\r\"") + Line("RX \"?\\r\\n\"") + Line("TX \"S?\\r\"") +
             Line("RX \"***\\r\\x03\""),
         "L01S=5\r", "?\r\n", "", false},
        {Line("TX \"L01M?\\r\"") + Line("RX \"L01S=2\\r\\x03\"") +
             Line("-- foreign reply discarded") + Line("RX \"L01M=AUTO\\r\\x03\""),
         "L01M?\r", "L01M=AUTO\r\x03", "L01S=2\r\x03", false},
        {Line("TX \"L01S?\\r\"") + Line("-- read failed"), "L01S?\r", "", "", true},
        {Line("-- write failed"), "", "", "", true},
    };
    for (const auto &c : cases) {
        TraceFile file;
        const auto events = file.Take(kVersion + c.lines);
        std::string request;
        std::string reply;
        EXPECT_EQ(ReplyToLastRequest(events, request, reply), !c.request.empty());
        EXPECT_EQ(request, c.request);
        EXPECT_EQ(reply, c.reply) << c.lines;
        EXPECT_EQ(ForeignRepliesToLastRequest(events), c.foreign) << c.lines;
        EXPECT_EQ(PortFailed(events), c.portFailed) << c.lines;
    }
}

} // namespace
