// em1 against the simulated instrument on a pseudo-terminal, in real time: start-up, the
// port commands, the adapter check, the progress line and the driver's log.
#include "em1_runner.h"
#include "em1sim/simulator.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace {

using namespace std::chrono_literals;

// The adapter dialogue reads each reply with a 2 s timeout; one exchange adds 250 ms of
// pauses. A silent line fails the dialogue at its first request; em1 then runs it once
// more to learn why.
constexpr double kDialogueReadTimeout = 2.0;
constexpr double kExchangePauses = 0.25;
constexpr double kProgramStart = 10; // loading and purges; a busy machine only adds to it
constexpr double kSilentStartBound = 2 * (kDialogueReadTimeout + kExchangePauses) + kProgramStart;

std::size_t Count(const std::string &text, const std::string &what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

class Em1WithInstrument : public ::testing::Test {
  protected:
    ProgramRun Run(std::vector<std::string> arguments, const ProgramOptions &options = {}) {
        arguments.insert(arguments.begin(), {"--port", simulator.SlavePath()});
        return Em1(arguments, options);
    }
    em1sim::Simulator simulator;
};

TEST_F(Em1WithInstrument, StartBringsTheInstanceUpAndShutsItDown) {
    const ProgramRun run = Run({"start"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("ColdStart  result 0: port " + simulator.SlavePath() +
                           " open at 9600 8N1, reply timeout 1000 ms, adapter ready"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(run.err, "");
    const ProgramRun again = Run({"start"});
    EXPECT_EQ(again.status, 0) << "the port was released: " << again.err;
}

TEST_F(Em1WithInstrument, PortCommandsReportTheirResults) {
    const ProgramRun closed = Run({"close"});
    ASSERT_EQ(closed.status, 0) << closed.err;
    EXPECT_NE(closed.out.find("ClosePort  result 0: port " + simulator.SlavePath() + " closed"),
              std::string::npos)
        << closed.out;

    const ProgramRun opened = Run({"open"});
    ASSERT_EQ(opened.status, 0) << opened.err;
    EXPECT_NE(opened.out.find("OpenPort   result 0: port " + simulator.SlavePath() + " open"),
              std::string::npos)
        << opened.out;

    const ProgramRun reopened = Run({"--timeout", "1500", "reopen"});
    ASSERT_EQ(reopened.status, 0) << reopened.err;
    EXPECT_NE(reopened.out.find("ReopenPort result 0: port " + simulator.SlavePath() +
                                " open at 9600 8N1, reply timeout 1500 ms"),
              std::string::npos)
        << reopened.out;

    const ProgramRun elsewhere = Run({"reopen", "ttyNOPE9"});
    EXPECT_EQ(elsewhere.status, 74);
    EXPECT_NE(elsewhere.err.find("no such device: /dev/ttyNOPE9"), std::string::npos)
        << elsewhere.err;
}

TEST_F(Em1WithInstrument, NoStartOpensThePortWithoutTheDialogue) {
    const ProgramRun run = Run({"--no-start", "start"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("OpenPort   result 0"), std::string::npos) << run.out;
    EXPECT_EQ(Count(simulator.TraceText(), "DMVX"), 0u);
}

TEST_F(Em1WithInstrument, ModemLinesOtherThanColdStartsRunTheDialogueWithWarmStart) {
    const ProgramRun run = Run({"--dtr", "on", "--rts", "off", "start"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("WarmStart  result 0"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("adapter ready"), std::string::npos);
}

TEST_F(Em1WithInstrument, AnAdapterThatIsNotReadyStopsTheRunWithTheDialoguesResult) {
    simulator.Fault("DMVX refuse");
    const ProgramRun run = Run({"start"});
    EXPECT_EQ(run.status, 69);
    EXPECT_NE(run.err.find("adapter not ready on " + simulator.SlavePath() +
                           ": the adapter dialogue failed with result 1 (the instrument refused "
                           "the last set-up request)"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(run.out, "");
}

TEST_F(Em1WithInstrument, AnAdapterReadyOnTheSecondDialogueCarriesOn) {
    simulator.Fault("DMVX refuse count=1");
    const ProgramRun run = Run({"start"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("the adapter became ready on the second dialogue"), std::string::npos);
}

TEST_F(Em1WithInstrument, ASilentLineGivesAClearErrorWithinTheTimeoutBound) {
    simulator.Fault("* silence");
    const ProgramRun run = Run({"start"});
    EXPECT_EQ(run.status, 69);
    EXPECT_NE(run.err.find("the adapter dialogue failed with result 5 (a set-up request before "
                           "the last was refused or not answered)"),
              std::string::npos)
        << run.err;
    EXPECT_GE(run.elapsed.count(), 2 * kDialogueReadTimeout) << "both dialogues waited";
    EXPECT_LT(run.elapsed.count(), kSilentStartBound);
}

TEST_F(Em1WithInstrument, TheProgressLineShowsOnATerminalOnly) {
    simulator.Command("latency 150"); // a dialogue of a second or more: several redraws
    ProgramOptions terminal;
    terminal.errorOnTerminal = true;
    const ProgramRun shown = Run({"start"}, terminal);
    ASSERT_EQ(shown.status, 0) << shown.err;
    const std::string line = "\rem1: starting the instance on " + simulator.SlavePath() +
                             ": adapter dialogue (ColdStart), ";
    const std::size_t first = shown.err.find(line);
    ASSERT_NE(first, std::string::npos) << shown.err;
    char *end = nullptr;
    EXPECT_GE(std::strtod(shown.err.c_str() + first + line.size(), &end), 0.1) << shown.err;
    EXPECT_EQ(std::string(end).substr(0, 5), " s\033[K") << "the elapsed time in seconds";
    EXPECT_GE(Count(shown.err, line), 3u) << "redrawn with the time as it passes";
    EXPECT_EQ(shown.err.substr(shown.err.size() - 4), "\r\033[K") << "the line is erased";

    const ProgramRun piped = Run({"start"});
    ASSERT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(piped.err, "");
}

TEST_F(Em1WithInstrument, VerbosityChoosesTheDriversLogLines) {
    const ProgramRun quiet = Run({"start"});
    EXPECT_EQ(quiet.err, "");
    const ProgramRun outcome = Run({"-v", "start"});
    EXPECT_NE(outcome.err.find("[32] ZEL01: EM: ColdStart(): EM-1 Driver loaded successfully"),
              std::string::npos)
        << outcome.err;

    simulator.Fault("DMVX refuse count=1");
    const ProgramRun detail = Run({"-vv", "start"});
    EXPECT_NE(detail.err.find("[32] ZEL01: EM: ConfigureAdapter(): fail rc = 1\n"),
              std::string::npos)
        << detail.err;

    ProgramOptions masked;
    masked.environment = {"ZEL_LOG_MASK=32"};
    EXPECT_NE(Run({"start"}, masked).err.find("[32] ZEL01: EM: ColdStart()"), std::string::npos);
}

TEST_F(Em1WithInstrument, UnusableLogSettingsAreWarnedAbout) {
    // The mask is read before the driver is loaded, whatever the command.
    ProgramOptions badMask;
    badMask.environment = {"ZEL_LOG_MASK=lots"};
    const ProgramRun mask = Run({"check", "L01S1"}, badMask);
    EXPECT_EQ(mask.status, 0);
    EXPECT_EQ(mask.err, "em1: warning: ZEL_LOG_MASK='lots' is not a number; the driver's log "
                        "stays off (32 outcome lines, 96 detail too)\n");

    ProgramOptions uselessMask;
    uselessMask.environment = {"ZEL_LOG_MASK=1"};
    EXPECT_NE(Run({"check", "L01S1"}, uselessMask).err.find("selects none of the driver's levels"),
              std::string::npos);

    ProgramOptions badFile;
    badFile.environment = {"ZEL_LOG_FILE=/nonexistent/em1.log"};
    const ProgramRun file = Run({"-v", "start"}, badFile);
    EXPECT_EQ(file.status, 0);
    EXPECT_NE(file.err.find("em1: warning: ZEL_LOG_FILE='/nonexistent/em1.log' cannot be opened "
                            "for appending (No such file or directory)"),
              std::string::npos)
        << file.err;
    EXPECT_NE(file.err.find("ColdStart(): EM-1 Driver loaded successfully"), std::string::npos)
        << "the lines go to standard error instead";
}

} // namespace
