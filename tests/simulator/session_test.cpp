// A scripted session with the simulator over its pseudo-terminal: the adapter dialogue, reads
// of every reply form, writes with and without confirmation, refusals and recovery.
#include "em1sim/simulator.h"
#include "pty_client.h"

#include <gtest/gtest.h>

namespace {

using sim_test::kEtx;
using sim_test::PtyClient;

struct Exchange {
    std::string request;
    std::string reply;
};

// Sends each request in turn and expects each reply byte for byte.
void RunSession(PtyClient &client, const std::vector<Exchange> &session) {
    for (const auto &step : session) {
        const char terminator = step.reply.empty() ? kEtx : step.reply.back();
        EXPECT_EQ(client.Ask(step.request + '\r', terminator), step.reply) << step.request;
    }
}

em1sim::Options SmallInstrument() {
    em1sim::Options options;
    options.loops = 2;
    options.modules = 1;
    return options;
}

TEST(SimulatorSession, AdapterDialogueFastStartSkipsInitialisation) {
    em1sim::Simulator simulator;
    PtyClient client(simulator.SlavePath());
    RunSession(client, {{"S?", "***\r\x03"},
                        {"DF", "***\r\x03"},
                        {"DLSV%X", "DLSV%X ***\r\n"},
                        {"DMVX", "DMVX ***\r\n"}});
}

TEST(SimulatorSession, AdapterDialogueSlowStartWaitsForSI) {
    em1sim::Options options;
    options.fastStart = false;
    em1sim::Simulator simulator(options);
    PtyClient client(simulator.SlavePath());
    RunSession(client, {{"S?", "NOT READY\r\x03"},
                        {"SI", "***\r\x03"},
                        {"DF", "***\r\x03"},
                        {"DLSV%X", "DLSV%X ***\r\n"},
                        {"DMVX", "DMVX ***\r\n"},
                        {"S?", "***\r\x03"}});
}

TEST(SimulatorSession, ReadsAnswerInEveryReplyForm) {
    em1sim::Simulator simulator(SmallInstrument());
    simulator.Set("L01S", "12.5");
    simulator.Set("L02M", "CASCADE");
    simulator.Set("L02X", "HD");
    simulator.Set("M01V", "-0.26");
    simulator.AddAlert("CC");
    simulator.AddAlert("L02 LOW ALARM");
    PtyClient client(simulator.SlavePath());
    RunSession(client, {
                           {"L01S?", "L01S=12.5\r\x03"},
                           {"L02M?", "L02M=CASCADE\r\x03"},
                           {"L02X?", "L02X=HD\r\x03"},
                           {"L01P?", "L01P=45.0\r\x03"},
                           {"M01V?", "M01V=-0.26\r\x03"},
                           {"M01X?", "M01X=OK\r\x03"},
                           {"SL?", "1,12.5,26,50,OK\r\n2,27,27,50,HD\r\n\x03"},
                           {"SM?", "1,-0.3,OK\r\n\x03"},
                           {"SA?", "ALERTS 2\r\nCC\r\nL02 LOW ALARM\r\n\x03"},
                           {"XC", "2,1,2\r\x03"},
                           {"SS", "2\r\x03"},
                           {"XS0", "REV 2.14\r\x03"},
                       });
}

TEST(SimulatorSession, SummaryDefinitionsShapeTheBlockLines) {
    em1sim::Simulator simulator(SmallInstrument());
    PtyClient client(simulator.SlavePath());
    RunSession(client, {{"DLXM", "DLXM ***\r\n"},
                        {"SL?", "1,OK,AUTO\r\n2,OK,AUTO\r\n\x03"},
                        {"DLQ", "?\r\n"},
                        {"DF", "***\r\x03"},
                        {"SL?", "1,26,26,50,OK\r\n2,27,27,50,OK\r\n\x03"}});
}

TEST(SimulatorSession, FullLoopSummaryFitsOneReply) {
    em1sim::Simulator simulator;
    for (int loop = 10; loop <= 29; ++loop)
        for (const char *letter : {"S", "V", "%"})
            simulator.Set("L" + std::to_string(loop) + letter, "-123.456");
    PtyClient client(simulator.SlavePath());
    const std::string reply = client.Ask("SL?\r");
    EXPECT_LE(reply.size(), 591u);
    EXPECT_EQ(reply.back(), kEtx);
    EXPECT_NE(reply.find("\r\n29,-123,-123,-123,OK\r\n\x03"), std::string::npos) << reply;
}

TEST(SimulatorSession, WritesChangeValuesAndRefuseWhatTheInstrumentCannotTake) {
    em1sim::Simulator simulator(SmallInstrument());
    PtyClient client(simulator.SlavePath());
    RunSession(client, {
                           {"L01S=12.500", "L01S=12.5 ***\r\n"},
                           {"L01S?", "L01S=12.5\r\x03"},
                           {"L01M=MANUAL", "L01M=MANUAL ***\r\n"},
                           {"L01X=3", "L01X=BI ***\r\n"},
                           {"L01G=0.250", "L01G=0.250 ***\r\n"},
                           {"M01V=-5", "M01V=-5.0 ***\r\n"},
                           {"L01M=FOO", "?\r\n"},
                           {"L01G=0.3", "?\r\n"},
                           {"L01S=1e3", "?\r\n"},
                           {"L01V=3", "?\r\n"},
                           {"L03S=1", "?\r\n"},
                       });
    EXPECT_EQ(simulator.Get("L01M"), "MANUAL");
    EXPECT_EQ(simulator.Get("L01S"), "12.5");
}

TEST(SimulatorSession, ConfiguredLettersApplyOnlyAfterConfirmation) {
    em1sim::Simulator simulator(SmallInstrument());
    PtyClient client(simulator.SlavePath());
    const std::string question = client.Ask("L01P=30.0\r", '\n');
    ASSERT_GE(question.size(), 5u);
    EXPECT_EQ(question[4], '?');
    EXPECT_EQ(question.find("***"), std::string::npos);
    EXPECT_EQ(simulator.Get("L01P"), "45.0");
    EXPECT_EQ(client.Ask("Y\r"), "L01P=30.0 ***\r\x03");
    EXPECT_EQ(simulator.Get("L01P"), "30.0");

    client.Ask("L01I=OFF\r", '\n');
    RunSession(client, {{"L01S?", "L01S=26.0\r\x03"}, {"Y", "?\r\x03"}});
    EXPECT_EQ(simulator.Get("L01I"), "10.0");
}

TEST(SimulatorSession, RefusalIsFollowedByASuccessfulRecovery) {
    em1sim::Options options = SmallInstrument();
    options.fastStart = false;
    em1sim::Simulator simulator(options);
    PtyClient client(simulator.SlavePath());
    RunSession(client, {{"BOGUS", "?\r\x03"}, {"S?", "***\r\x03"}, {"S?", "NOT READY\r\x03"}});
}

TEST(SimulatorSession, DisplayAndResetCommands) {
    em1sim::Simulator simulator(SmallInstrument());
    simulator.AddAlert("ROM ERROR");
    PtyClient client(simulator.SlavePath());
    RunSession(client, {{"S?", "ERR ***\r\x03"},
                        {"SOTURN KEY OFF", "***\r\x03"},
                        {"SX", "***\r\x03"},
                        {"S?", "***\r\x03"},
                        {"SS", "0\r\x03"}});
    EXPECT_EQ(simulator.Command("display"), "TURN KEY OFF");
    RunSession(client, {{"SB", "***\r\x03"}});
    EXPECT_EQ(simulator.Command("display"), "");
}

TEST(SimulatorSession, ProcessValueDriftsTowardItsSetPoint) {
    em1sim::Options options = SmallInstrument();
    options.drift = true;
    em1sim::Simulator simulator(options);
    simulator.Set("L01S", "80");
    EXPECT_TRUE(sim_test::Eventually([&] { return std::stod(simulator.Get("L01V")) > 40.0; }));
}

TEST(SimulatorSession, TraceShowsRequestsAndRepliesEscaped) {
    em1sim::Simulator simulator(SmallInstrument());
    PtyClient client(simulator.SlavePath());
    client.Ask("L01S?\r");
    EXPECT_TRUE(sim_test::Eventually([&] {
        const std::string trace = simulator.TraceText();
        return trace.find("RX \"L01S?\\r\"") != std::string::npos &&
               trace.find("TX \"L01S=26.0\\r\\x03\"") != std::string::npos;
    })) << simulator.TraceText();
}

} // namespace
