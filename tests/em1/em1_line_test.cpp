// What em1 says happened on the line, held against what the simulated instrument then
// holds: writes under each fault, exact values in every format, cells too narrow for the
// value, polls across a failed line, an interrupt, and output that cannot be written.
#include "em1_runner.h"
#include "em1sim/simulator.h"
#include "json_value.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <sstream>
#include <thread>

namespace {

using namespace std::chrono_literals;

// Bounds that catch a hang, never a measure of speed: start-up, the reply timeout and the
// driver's pauses of each exchange, and ample slack for a busy machine.
constexpr double kOneCommandBound = 20.0;

std::string Tail(const std::string &text, const std::string &after) {
    const auto at = text.rfind(after);
    return at == std::string::npos ? "" : text.substr(at + after.size());
}

bool SameFloat(const std::string &shown, const std::string &held) {
    return static_cast<float>(std::strtod(shown.c_str(), nullptr)) ==
           static_cast<float>(std::strtod(held.c_str(), nullptr));
}

// A simulator whose line is also a link in a folder of the test's own: the link's path is
// longer than the driver's 11 characters, so em1 follows it to the device, and follows it
// again when the line comes back after a hang-up.
class LinkedSimulator {
  public:
    LinkedSimulator() : folder_(MakeFolder()), simulator_(Options(folder_)) {}
    ~LinkedSimulator() {
        simulator_.Stop();
        std::filesystem::remove_all(folder_);
    }
    em1sim::Simulator &operator*() { return simulator_; }
    em1sim::Simulator *operator->() { return &simulator_; }
    std::string Link() const { return folder_ + "/line"; }

  private:
    static std::string MakeFolder() {
        std::string folder = (std::filesystem::temp_directory_path() / "em1-line-XXXXXX").string();
        if (mkdtemp(folder.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        return folder;
    }
    static em1sim::Options Options(const std::string &folder) {
        em1sim::Options options;
        options.link = folder + "/line";
        return options;
    }
    std::string folder_;
    em1sim::Simulator simulator_;
};

class Em1Line : public ::testing::Test {
  protected:
    void SetUp() override { simulator->Set("L01S", "12.5"); }
    // Without the adapter dialogue, which em1_start_tests prove: the line needs only the port.
    ProgramRun Run(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {"--port", simulator.Link(), "--no-start"});
        return Em1(arguments);
    }
    // A shell line with em1 as "$0" and the port as "$1".
    ProgramRun Shell(const std::string &script) {
        return RunProgram("/bin/sh", {"-c", script, EM1_PROGRAM, simulator.Link()},
                          {{}, {"ZEL_LOG_MASK", "ZEL_LOG_FILE", "EM_TRACE"}, false});
    }
    LinkedSimulator simulator;
};

struct WriteFault {
    std::string fault; // on the write request, once
    int status;        // em1's exit status
    std::string said;  // part of what em1 says
    std::string held;  // what the instrument holds afterwards
};

TEST_F(Em1Line, AWriteIsReportedAsTheLineAndTheInstrumentTellIt) {
    for (const auto &c : {
             WriteFault{"", 0, "L01S1 = 41 written: the line carried L01S=41", "41.0"},
             WriteFault{"refuse", 76, "refused by the instrument", "12.5"},
             WriteFault{"silence", 75, "unconfirmed: it may have been applied", "12.5"},
             WriteFault{"empty", 75, "unconfirmed: it may have been applied", "41.0"},
             WriteFault{"garbage", 75, "is not an acknowledgement", "41.0"},
             WriteFault{"partial", 75, "unconfirmed: it may have been applied", "41.0"},
             WriteFault{"flood", 75, "unconfirmed: it may have been applied", "41.0"},
             WriteFault{"late delay=1500", 75, "unconfirmed: it may have been applied", "41.0"},
             WriteFault{"foreign to=L02S? delay=3000", 75,
                        "the reply \"L02S=27.0\\r\\x03\" answers another request", "41.0"},
             WriteFault{"hangup delay=300", 75, "unconfirmed: it may have been applied", "12.5"},
             WriteFault{"hangup delay=300 bytes=4", 75, "unconfirmed", "41.0"},
         }) {
        simulator->Set("L01S", "12.5");
        simulator->ClearFaults();
        if (!c.fault.empty()) {
            simulator->Fault("L01S=* " + c.fault + " count=1");
        }
        const ProgramRun run = Run({"write", "L01S1", "41"});
        const std::string said = run.out + run.err;
        EXPECT_EQ(run.status, c.status) << c.fault << ": " << said;
        EXPECT_NE(said.find(c.said), std::string::npos) << c.fault << ": " << said;
        EXPECT_EQ(said.find("refused"), c.status == 76 ? said.find("refused") : std::string::npos)
            << c.fault << ": only the instrument's own refusal is a refusal: " << said;
        const std::string held = simulator->Get("L01S");
        EXPECT_EQ(held, c.held) << c.fault;
        const std::string readBack = Tail(said, "reads back as ");
        ASSERT_FALSE(readBack.empty()) << c.fault << ": no read-back: " << said;
        EXPECT_TRUE(SameFloat(readBack, held))
            << c.fault << ": em1 " << readBack << ", held " << held;
        EXPECT_LT(run.elapsed.count(), kOneCommandBound);
    }
}

TEST_F(Em1Line, AWriteIsWrittenOnlyWhenItReadsBackAsTheValueGiven) {
    struct Case {
        std::vector<std::string> write;
        int status;
        std::string said;
    };
    for (const auto &c : {
             Case{{"--no-verify", "L01S0", "1234.5678"},
                  0,
                  "L01S0 = 1234.5678 written: the line carried L01S=1234.56 and the instrument "
                  "acknowledged it\n"},
             Case{{"L01S0", "1234.5678"},
                  65,
                  "em1: L01S0 = 1234.5678: inexact: acknowledged, but the instrument holds "
                  "1234.56, not 1234.5678 (the line carried L01S=1234.56)\n"},
             Case{{"L01S0:float", "99999999"},
                  65,
                  "inexact: acknowledged, but the instrument holds 100000000, not 99999999"},
             Case{{"L01S0", "99999999"},
                  0,
                  "the line carried L01S=99999999; it reads back as 99999999\n"},
             Case{{"L01S1", "41.511"}, 0, "it reads back as 41.511\n"},
         }) {
        std::vector<std::string> command = {"write"};
        command.insert(command.end(), c.write.begin(), c.write.end());
        const ProgramRun run = Run(command);
        const std::string said = run.out + run.err;
        EXPECT_EQ(run.status, c.status) << c.write[1] << ": " << said;
        EXPECT_NE(said.find(c.said), std::string::npos) << said;
        EXPECT_EQ(said.find("written") == std::string::npos, c.status != 0) << said;
    }
}

// The value em1 shows first, in each format: the list's second column (the third of a poll's
// table, after its time and round), the CSV row's third field, the JSON number's text as it
// stands.
std::string ShownValue(const std::string &format, const std::string &out) {
    const auto lines = LinesOf(out);
    if (lines.size() < 2 && format != "json") {
        return "";
    }
    if (format == "json") {
        const std::string key = "\"value\":";
        const auto at = out.find(key);
        return at == std::string::npos
                   ? ""
                   : out.substr(at + key.size(), out.find(',', at) - at - key.size());
    }
    if (format == "csv") {
        const auto from = lines[1].find(',', lines[1].find(',') + 1) + 1;
        return lines[1].substr(from, lines[1].find(',', from) - from);
    }
    std::istringstream row(lines[1]);
    std::string first, value;
    row >> first >> value;
    if (std::isdigit(static_cast<unsigned char>(first[0])) != 0) {
        row >> value;
    }
    return value;
}

TEST_F(Em1Line, ValuesAreShownAsTheLineCarriedThemInEveryFormat) {
    struct Case {
        std::string held;                 // by the instrument, which answers with 3 decimals
        std::vector<std::string> command; // em1's, the first value shown
        std::string shown;
    };
    const std::vector<std::string> read = {"read", "L01S1"};        // a float cell, x10
    const std::vector<std::string> block = {"block", "L01S0", "4"}; // 16-bit cells, 1 decimal
    const std::vector<std::string> poll = {"poll", "L01S1", "-c", "1"};
    for (const auto &c : {Case{"41.511", read, "41.511"}, Case{"33.204", poll, "33.204"},
                          Case{"123456.7", read, "123456.7"}, Case{"0.001", read, "0.001"},
                          Case{"99999999", read, "99999999"}, Case{"-41.47", block, "-41.5"}}) {
        simulator->Set("L01S", c.held);
        for (const std::string format : {"table", "csv", "json"}) {
            std::vector<std::string> command = c.command;
            command.insert(command.end(), {"--format", format});
            const ProgramRun run = Run(command);
            ASSERT_EQ(run.status, 0) << run.err;
            EXPECT_EQ(ShownValue(format, run.out), c.shown) << c.command[0] << " -f " << format;
        }
    }
}

TEST_F(Em1Line, AValueItsCellCannotHoldIsAnErrorNotAReading) {
    struct Case {
        std::string held;
        std::vector<std::string> command;
        std::string said;
    };
    const std::string block16 =
        "L01S3:int16: the instrument's 42.5 is 42500 in the cell, which does not fit int16";
    for (const auto &c :
         {Case{"42.5", {"read", "L01S3:int16"}, "is 42500 in the cell, which does not fit int16"},
          Case{"99999999999", {"read", "L01S1:int32"}, "which does not fit int32"},
          Case{"-1", {"read", "L01S0:uint16"}, "which does not fit uint16"},
          Case{"42.5", {"block", "L01S3", "4"}, block16},
          Case{"42.5", {"block", "L01S3", "4", "-c", "2", "-i", "0", "-f", "csv"}, block16},
          Case{"42.5", {"block", "L01S3", "4", "-f", "json"}, block16}}) {
        simulator->Set("L01S", c.held);
        const ProgramRun run = Run(c.command);
        EXPECT_EQ(run.status, 65) << c.command[1] << ": " << run.out;
        EXPECT_NE(run.err.find(c.said), std::string::npos) << run.err;
        EXPECT_EQ(run.out.find("-23"), std::string::npos) << "no wrapped value: " << run.out;
    }
}

TEST_F(Em1Line, APollGoesOnAcrossAFailedLineAndLosesNoRoundSilently) {
    for (const auto downTime : {300ms, 2500ms}) { // a hang-up; a device gone for a while
        auto poll = std::async(std::launch::async, [this] {
            return Run({"poll", "L01S1", "--interval", "0.4", "--count", "14", "--format", "json"});
        });
        std::this_thread::sleep_for(2500ms);
        simulator->HangUp(downTime);
        const ProgramRun run = poll.get();
        const auto lines = LinesOf(run.out);
        long long expected = 1;
        int down = 0;
        int back = 0;
        for (const auto &line : lines) {
            const JsonValue object = ParseJson(line);
            if (object.Has("event")) {
                down += object["event"].String() == "line down";
                back += object["event"].String() == "line back";
                continue;
            }
            EXPECT_EQ(object["round"].Number(), static_cast<double>(expected++)) << line;
            const JsonValue &item = object["items"].Array()[0];
            EXPECT_TRUE(item.Has("error") || item["value"].Number() == 12.5) << line;
        }
        EXPECT_EQ(expected, 15) << "every round is there: " << run.out;
        EXPECT_EQ(down, 1) << run.out;
        EXPECT_EQ(back, 1) << run.out << run.err;
        EXPECT_EQ(ParseJson(lines.back())["items"].Array()[0]["value"].Number(), 12.5)
            << "the line came back";
        EXPECT_NE(run.err.find("is back after"), std::string::npos) << run.err;
    }
}

TEST_F(Em1Line, AnInterruptEndsThePollAfterTheCurrentReadWith130) {
    const ProgramRun run =
        Shell("\"$0\" --port \"$1\" poll L01S1 L01S0 --interval 0 --format json & pid=$!; sleep 3; "
              "kill -INT $pid; wait $pid; echo \"status $?\" >&2");
    EXPECT_NE(run.err.find("status 130"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("stopped by SIGINT"), std::string::npos) << run.err;
    const auto lines = LinesOf(run.out);
    ASSERT_FALSE(lines.empty());
    for (const auto &line : lines) {
        EXPECT_NO_THROW(ParseJson(line)) << "every line whole: " << line;
    }
    EXPECT_EQ(Run({"read", "L01S1"}).status, 0) << "the instance was shut down";
}

TEST_F(Em1Line, OutputThatCannotBeWrittenEndsWith74) {
    struct Case {
        std::string redirect, said;
    };
    for (const auto &c :
         {Case{"read L01S1 > /dev/full", "cannot write to standard output"},
          Case{"poll L01S1 --interval 0.2 > /dev/full", "cannot write to standard output"},
          Case{"read L01S1 >&-", "standard output is closed"}}) {
        const ProgramRun run =
            Shell("\"$0\" --port \"$1\" " + c.redirect + "; echo \"status $?\" >&2");
        EXPECT_NE(run.err.find("status 74"), std::string::npos) << c.redirect << ": " << run.err;
        EXPECT_NE(run.err.find(c.said), std::string::npos) << run.err;
        EXPECT_LT(run.elapsed.count(), kOneCommandBound) << c.redirect;
    }
}

} // namespace
