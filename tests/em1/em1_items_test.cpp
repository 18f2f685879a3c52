// em1's item commands against the simulated instrument: values with their scale, writes
// read back by the instrument, refusals, alerts by name, blocks, and poll output parsed as
// a program would read it.
#include "em1_runner.h"
#include "em1sim/simulator.h"
#include "json_value.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

// A failed read waits one reply timeout (1 s), the exchange's 250 ms of pauses and the
// driver's 1 s pause before it returns.
constexpr double kSilentReadSeconds = 1.0 + 0.25 + 1.0;
constexpr double kStartAndSlack = 10; // loading and the port; a busy machine only adds

std::vector<std::string> Fields(const std::string &line, char separator) {
    std::vector<std::string> fields;
    std::string field;
    std::istringstream in(line);
    while (std::getline(in, field, separator)) {
        fields.push_back(field);
    }
    if (!line.empty() && line.back() == separator) {
        fields.emplace_back();
    }
    return fields;
}

std::vector<std::string> Words(const std::string &line) {
    std::vector<std::string> words;
    std::istringstream in(line);
    for (std::string word; in >> word;) {
        words.push_back(word);
    }
    return words;
}

// The line of a table that starts with the word, split into words.
std::vector<std::string> Row(const std::string &table, const std::string &first) {
    for (const auto &line : LinesOf(table)) {
        auto words = Words(line);
        if (!words.empty() && words[0] == first) {
            return words;
        }
    }
    return {};
}

class Em1Items : public ::testing::Test {
  protected:
    void SetUp() override {
        simulator.Set("L01S", "12.5");
        simulator.Set("L01M", "AUTO");
        simulator.Set("M03V", "4.25");
    }
    // Without the adapter dialogue, which em1_start_tests prove: items need only the port.
    ProgramRun Run(std::vector<std::string> arguments, bool started = false) {
        arguments.insert(arguments.begin(), {"--port", simulator.SlavePath()});
        if (!started) {
            arguments.insert(arguments.begin(), "--no-start");
        }
        return Em1(arguments);
    }
    em1sim::Simulator simulator;
};

TEST_F(Em1Items, ReadShowsEachValueWithItsScaleAndModesByName) {
    simulator.AddAlert("CC");
    const ProgramRun run =
        Run({"read", "l01s1", "M03V0", "L01M0", "A02", "A03", "INIT", "L01S1:int16"}, true);
    ASSERT_EQ(run.status, 0) << run.err;
    using Expected = std::vector<std::string>;
    EXPECT_EQ(Row(run.out, "ITEM"), (Expected{"ITEM", "VALUE", "CELL", "SCALE", "TYPE"}));
    EXPECT_EQ(Row(run.out, "L01S1"), (Expected{"L01S1", "12.5", "125", "x10", "float"}));
    EXPECT_EQ(Row(run.out, "M03V0"), (Expected{"M03V0", "4.25", "4.25", "x1", "float"}));
    EXPECT_EQ(Row(run.out, "L01M0"), (Expected{"L01M0", "AUTO", "3", "x1", "uint16"}));
    EXPECT_EQ(Row(run.out, "A02"), (Expected{"A02", "active", "1", "x1", "bit"}));
    EXPECT_EQ(Row(run.out, "A03"), (Expected{"A03", "clear", "0", "x1", "bit"}));
    EXPECT_EQ(Row(run.out, "INIT"), (Expected{"INIT", "ready", "1", "x1", "int16"}));
    EXPECT_EQ(LinesOf(run.out).back(), "L01S1  12.5         125          x10    int16");
}

struct FailedRead {
    std::string fault;
    int status;
    std::string message;
};

class Em1FailedReads : public Em1Items, public ::testing::WithParamInterface<FailedRead> {};

TEST_P(Em1FailedReads, EndWithTheirStatusAndSayWhy) {
    simulator.Fault(GetParam().fault);
    const ProgramRun run = Run({"read", "L01M0", "L01S1"});
    EXPECT_EQ(run.status, GetParam().status);
    EXPECT_NE(run.err.find("em1: L01S1: " + GetParam().message), std::string::npos) << run.err;
    EXPECT_EQ(Row(run.out, "L01S1")[1], "-") << run.out;
    EXPECT_EQ(Row(run.out, "L01M0")[1], "AUTO") << "the other item is still shown";
    EXPECT_LT(run.elapsed.count(), kSilentReadSeconds + kStartAndSlack);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, Em1FailedReads,
    ::testing::Values(
        FailedRead{"L01S? refuse", 76, "the instrument refused the request (SingleRead result 1)"},
        FailedRead{"L01S? foreign to=L02S? delay=3000", 69,
                   "no reply to this request; the reply \"L02S=27.0\\r\\x03\" answers another "
                   "request and was discarded (SingleRead result 2)"}));

TEST_F(Em1Items, DetailLinesShowTheRequestOfARefusedRead) {
    simulator.Fault("L01S? refuse");
    const ProgramRun run = Run({"-vv", "read", "L01S1"});
    EXPECT_EQ(run.status, 76);
    EXPECT_NE(run.err.find("[32] ZEL1: EM: SingleRead(): Failed rc = 1\n"), std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("[64] \trequest: L01S?\r"), std::string::npos) << run.err;

    simulator.ClearFaults();
    const ProgramRun good = Run({"-vv", "read", "L01S1"});
    EXPECT_EQ(good.status, 0) << good.err;
    EXPECT_NE(good.err.find(" TX \"L01S?\\r\"\n"), std::string::npos)
        << "on success too: " << good.err;
    EXPECT_NE(good.err.find(" RX \"L01S=12.5"), std::string::npos) << good.err;
}

TEST_F(Em1Items, WritesReachTheInstrumentInItsUnits) {
    struct Case {
        std::string item, value, printed, parameter, held;
    };
    for (const auto &c :
         {Case{"L01S1", "42.5",
               "L01S1 = 42.5 written: the line carried L01S=42.500; it reads back as 42.5", "L01S",
               "42.5"},
          Case{"L01S3:int32", "1500",
               "L01S3 = 1500 written: the line carried L01S=1500; it reads back as 1500", "L01S",
               "1500.0"},
          Case{"L01M0", "manual",
               "L01M0 = MANUAL written: the line carried L01M=MANUAL; it reads back as MANUAL",
               "L01M", "MANUAL"},
          Case{"L01M1", "5",
               "L01M1 = CASCADE written: the line carried L01M=CASCADE; it reads back as CASCADE",
               "L01M", "CASCADE"},
          Case{"L01P0", "45",
               "L01P0 = 45.0 written: the line carried L01P=45.0; it reads back as 45", "L01P",
               "45.0"},
          Case{"L01F0", "OFF",
               "L01F0 = OFF written: the line carried L01F=OFF; it reads back as OFF", "L01F",
               "OFF"}}) {
        const ProgramRun run = Run({"write", c.item, c.value});
        EXPECT_EQ(run.status, 0) << c.item << ": " << run.err;
        EXPECT_EQ(run.out, c.printed + "\n");
        EXPECT_EQ(simulator.Get(c.parameter), c.held) << c.item;
    }
    EXPECT_EQ(Run({"write", "DISP", "1"}).status, 0);
    EXPECT_EQ(simulator.Command("display"), "TURN KEY OFF");
}

TEST_F(Em1Items, ValuesTheItemCannotTakeAreRefusedBeforeAnythingIsSent) {
    struct Case {
        std::string item, value, reason;
    };
    for (const auto &c :
         {Case{"L01P0", "2.5", "parameter P takes only OFF 0.1 0.2 0.3"},
          Case{"L01M0", "FAST", "it is not a mode (OFF MANUAL TRIM AUTO SLAVE CASCADE ON)"},
          Case{"L01M0", "7", "it is not a mode"}, Case{"L01S1", "ten", "it is not a number"},
          Case{"L01S1:int16", "4000", "4000 times the scale 10 does not fit the type int16"},
          Case{"L01S0:uint16", "1.5", "1.5 times the scale 1 does not fit the type uint16 exactly"},
          Case{"A02", "0", "alert items can only be read"}, Case{"NL", "1", "NL can only be read"},
          Case{"DISP", "2", "DISP takes 0 or 1"}}) {
        const ProgramRun run = Run({"write", c.item, c.value});
        EXPECT_EQ(run.status, 65) << c.item << " " << c.value;
        EXPECT_NE(run.err.find("'" + c.value + "' cannot be written: " + c.reason),
                  std::string::npos)
            << run.err;
    }
    EXPECT_EQ(simulator.TraceText().find('='), std::string::npos) << "no write was sent";
}

TEST_F(Em1Items, AWriteTheInstrumentRefusesEndsWith76) {
    simulator.Fault("L01S=* refuse");
    const ProgramRun refused = Run({"write", "L01S1", "30"});
    EXPECT_EQ(refused.status, 76);
    EXPECT_NE(refused.err.find("em1: L01S1 = 30: refused by the instrument (SingleWrite result 1: "
                               "the line carried L01S=30, the reply was \"?\\r\\n\"); it reads "
                               "back as 12.5"),
              std::string::npos)
        << refused.err;
    EXPECT_EQ(simulator.Get("L01S"), "12.5");

    const ProgramRun readOnly = Run({"write", "L01V0", "3"});
    EXPECT_EQ(readOnly.status, 76) << readOnly.err;
}

TEST_F(Em1Items, AlertsAreNamed) {
    EXPECT_EQ(Run({"alerts"}).out, "no active alerts\n");
    EXPECT_EQ(Run({"alerts", "-f", "csv", "--no-header"}).out, "");
    EXPECT_TRUE(ParseJson(Run({"alerts", "-f", "json"}).out)["active"].Array().empty());
    simulator.AddAlert("CC");
    simulator.AddAlert("L03 LOW ALARM");
    const ProgramRun run = Run({"alerts"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "A02  CC\nA20  LOW ALARM\n");

    const auto csv = LinesOf(Run({"alerts", "--format", "csv"}).out);
    ASSERT_EQ(csv.size(), 3u);
    EXPECT_EQ(csv[0], "time,item,alert");
    EXPECT_EQ(Fields(csv[2], ','),
              (std::vector<std::string>{Fields(csv[1], ',')[0], "A20", "LOW ALARM"}));
    const JsonValue json = ParseJson(LinesOf(Run({"alerts", "-f", "json"}).out).at(0));
    EXPECT_EQ(json["time"].String().back(), 'Z');
    ASSERT_EQ(json["active"].Array().size(), 2u);
    EXPECT_EQ(json["active"].Array()[0]["item"].String(), "A02");
    EXPECT_EQ(json["active"].Array()[1]["name"].String(), "LOW ALARM");
}

TEST_F(Em1Items, BlocksLabelEveryValue) {
    simulator.Set("L02X", "HD");
    const ProgramRun loops = Run({"block", "L", "8"});
    ASSERT_EQ(loops.status, 0) << loops.err;
    EXPECT_EQ(Row(loops.out, "L01S0"), (std::vector<std::string>{"L01S0", "12.5", "12"}));
    EXPECT_EQ(Row(loops.out, "L02X0"), (std::vector<std::string>{"L02X0", "HD", "8"}));

    const ProgramRun scaled = Run({"block", "L01S1", "4"});
    EXPECT_EQ(Row(scaled.out, "L01S1"), (std::vector<std::string>{"L01S1", "12.5", "125"}));
    const ProgramRun csv = Run({"block", "L01S1", "4", "--format", "csv"});
    ASSERT_EQ(LinesOf(csv.out).size(), 2u) << csv.out;
    EXPECT_EQ(Fields(LinesOf(csv.out)[0], ',').at(2), "L01S1");
    EXPECT_EQ(Fields(LinesOf(csv.out)[1], ',').at(2), "12.5");
    const ProgramRun polled = Run({"block", "L01S1", "4", "-c", "2", "-i", "0", "-f", "json"});
    ASSERT_EQ(polled.status, 0) << polled.err;
    ASSERT_EQ(LinesOf(polled.out).size(), 2u) << polled.out;
    for (const double round : {1, 2}) {
        const JsonValue line = ParseJson(LinesOf(polled.out)[static_cast<std::size_t>(round) - 1]);
        EXPECT_EQ(line["round"].Number(), round);
        ASSERT_EQ(line["items"].Array().size(), 4u);
        EXPECT_EQ(line["items"].Array()[0]["value"].Number(), 12.5);
    }

    simulator.AddAlert("HH");
    const ProgramRun alerts = Run({"block", "A05", "4"});
    ASSERT_EQ(alerts.status, 0) << alerts.err;
    EXPECT_EQ(Row(alerts.out, "A07"), (std::vector<std::string>{"A07", "HH", "active"}));
    EXPECT_EQ(Row(alerts.out, "A08"), (std::vector<std::string>{"A08", "II", "clear"}));
}

TEST_F(Em1Items, PollWritesJsonLinesWithTimeStamps) {
    const ProgramRun run =
        Run({"poll", "L01S1", "L01M0", "--interval", "0.2", "--count", "3", "--format", "json"});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto lines = LinesOf(run.out);
    ASSERT_EQ(lines.size(), 3u) << run.out;
    std::string previous;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const JsonValue round = ParseJson(lines[i]);
        EXPECT_EQ(round["round"].Number(), static_cast<double>(i + 1));
        const std::string time = round["time"].String();
        EXPECT_EQ(time.size(), 24u) << time; // 2024-05-01T12:00:00.123Z
        EXPECT_EQ(time.back(), 'Z');
        EXPECT_GT(time, previous);
        previous = time;
        const JsonArray &items = round["items"].Array();
        ASSERT_EQ(items.size(), 2u);
        EXPECT_EQ(items[0]["item"].String(), "L01S1");
        EXPECT_EQ(items[0]["value"].Number(), 12.5);
        EXPECT_EQ(items[0]["cell"].Number(), 125);
        EXPECT_EQ(items[0]["scale"].Number(), 10);
        EXPECT_FALSE(items[0].Has("text"));
        EXPECT_EQ(items[1]["value"].Number(), 3);
        EXPECT_EQ(items[1]["text"].String(), "AUTO");
    }
}

TEST_F(Em1Items, PollGoesOnAfterAFailedReadAndReportsIt) {
    simulator.Fault("L01S? silence count=1");
    const ProgramRun run =
        Run({"poll", "L01S1", "L01M0", "--interval", "0", "--count", "2", "--format", "csv"});
    EXPECT_EQ(run.status, 69);
    const auto lines = LinesOf(run.out);
    ASSERT_EQ(lines.size(), 3u) << run.out;
    EXPECT_EQ(Fields(lines[0], ','), (std::vector<std::string>{"time", "round", "L01S1", "L01M0"}));
    const auto first = Fields(lines[1], ',');
    const auto second = Fields(lines[2], ',');
    ASSERT_EQ(first.size(), 4u);
    ASSERT_EQ(second.size(), 4u);
    EXPECT_EQ(first[1], "1");
    EXPECT_EQ(first[2], "") << "the failed read leaves its field empty";
    EXPECT_EQ(first[3], "AUTO");
    EXPECT_EQ(second[1], "2");
    EXPECT_EQ(second[2], "12.5");
    EXPECT_NE(run.err.find("em1: L01S1: no answer from the instrument"), std::string::npos);

    simulator.Fault("L01S? silence count=1");
    const ProgramRun json = Run({"poll", "L01S1", "--count", "1", "--format", "json"});
    EXPECT_EQ(ParseJson(LinesOf(json.out).at(0))["items"].Array()[0]["error"].String(),
              "no answer");
}

TEST_F(Em1Items, PollAsATableHasAColumnPerItem) {
    const ProgramRun run = Run({"poll", "L01S1", "L01M0", "--interval", "0.1", "--count", "2"});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto lines = LinesOf(run.out);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(Words(lines[0]), (std::vector<std::string>{"TIME", "ROUND", "L01S1", "L01M0"}));
    EXPECT_EQ(Words(lines[2]).size(), 4u);
    EXPECT_EQ(Words(lines[2])[1], "2");
    EXPECT_EQ(Words(lines[2])[3], "AUTO");
    EXPECT_NE(lines[2].back(), ' ');
}

} // namespace
