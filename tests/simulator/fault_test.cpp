// Every fault mode does what it says on the line, picks only the requests it names, and a
// hang-up leaves the instrument's state as it was.
#include "em1sim/simulator.h"
#include "pty_client.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using sim_test::kEtx;
using sim_test::PtyClient;

constexpr std::string_view kReply = "L01S=26.0\r\x03";

bool HasTerminator(std::string_view bytes) {
    return bytes.find_first_of(std::string_view("\r\n\x03", 3)) != std::string_view::npos;
}

struct FaultCase {
    std::string rule;
    // Checks what arrived within a second of the request.
    std::function<void(const std::string &)> check;
};

class FaultModes : public testing::TestWithParam<FaultCase> {};

TEST_P(FaultModes, SpoilOneReplyThenTheLineIsHealthy) {
    em1sim::Simulator simulator;
    simulator.Fault("L01S? " + GetParam().rule + " count=1");
    PtyClient client(simulator.SlavePath());
    client.Send("L01S?\r");
    GetParam().check(client.ReadFor(1000ms));
    EXPECT_EQ(client.Ask("L01S?\r"), kReply);
}

INSTANTIATE_TEST_SUITE_P(
    EachKind, FaultModes,
    testing::Values(
        FaultCase{"silence", [](const std::string &got) { EXPECT_EQ(got, ""); }},
        FaultCase{"refuse", [](const std::string &got) { EXPECT_EQ(got, "?\r\x03"); }},
        FaultCase{"empty", [](const std::string &got) { EXPECT_EQ(got, "\x03"); }},
        FaultCase{"partial bytes=4", [](const std::string &got) { EXPECT_EQ(got, "L01S"); }},
        FaultCase{"noterm", [](const std::string &got) { EXPECT_EQ(got, "L01S=26.0\r"); }},
        FaultCase{"trailing",
                  [](const std::string &got) { EXPECT_EQ(got, std::string(kReply) + "EXTRA"); }},
        FaultCase{"garbage",
                  [](const std::string &got) {
                      ASSERT_EQ(got.size(), 13u);
                      EXPECT_FALSE(HasTerminator(got.substr(0, 12)));
                      EXPECT_EQ(got.back(), kEtx);
                  }},
        FaultCase{"flood",
                  [](const std::string &got) {
                      EXPECT_EQ(got.size(), 600u);
                      EXPECT_FALSE(HasTerminator(got));
                  }},
        FaultCase{"foreign to=L02S? delay=300",
                  [](const std::string &got) {
                      EXPECT_EQ(got, "L02S=27.0\r\x03" + std::string(kReply));
                  }}),
    [](const testing::TestParamInfo<FaultCase> &info) {
        const std::string &rule = info.param.rule;
        return rule.substr(0, rule.find(' '));
    });

TEST(Faults, LateReplyArrivesAfterItsDelay) {
    em1sim::Simulator simulator;
    simulator.Fault("L01S? late delay=800 count=1");
    PtyClient client(simulator.SlavePath());
    client.Send("L01S?\r");
    EXPECT_EQ(client.ReadFor(450ms), "");
    EXPECT_EQ(client.ReadUntil(kEtx, 10000ms), kReply);
}

// Without to=, the foreign reply is the reply to the request before, sent once more.
TEST(Faults, ForeignReplyIsThePreviousRequestsReplyThenItsOwn) {
    em1sim::Simulator simulator;
    simulator.Fault("L01S? foreign delay=300 count=1");
    PtyClient client(simulator.SlavePath());
    EXPECT_EQ(client.Ask("L02M?\r"), "L02M=AUTO\r\x03");
    client.Send("L01S?\r");
    EXPECT_EQ(client.ReadFor(150ms), "L02M=AUTO\r\x03");
    EXPECT_EQ(client.ReadUntil(kEtx, 10000ms), kReply);
    EXPECT_EQ(simulator.Command("fault L01S? foreign to=L01S=5"),
              "error: to=L01S=5: not a request the instrument answers without carrying it out (an "
              "item's read such as L02S?, SL?, SM?, SA? or XC)");
}

TEST(Faults, SplitReplyPausesInTheMiddle) {
    em1sim::Simulator simulator;
    simulator.Fault("L01S? split bytes=4 delay=2000 count=1");
    PtyClient client(simulator.SlavePath());
    client.Send("L01S?\r");
    EXPECT_EQ(client.ReadFor(1000ms), "L01S");
    EXPECT_EQ(client.ReadUntil(kEtx, 10000ms), "=26.0\r\x03");
}

TEST(Faults, PatternsAndCountsPickTheirRequests) {
    em1sim::Simulator simulator;
    simulator.Fault("L01* silence count=2");
    PtyClient client(simulator.SlavePath());
    EXPECT_EQ(client.Ask("L02S?\r"), "L02S=27.0\r\x03");
    for (const char *request : {"L01S?\r", "L01M?\r"}) {
        client.Send(request);
        EXPECT_EQ(client.ReadFor(200ms), "") << request;
    }
    EXPECT_EQ(client.Ask("L01S?\r"), kReply);
    EXPECT_EQ(simulator.Command("faults"), "none");
}

TEST(Faults, RateFiresOnlyOnPartOfTheRequests) {
    em1sim::Options options;
    options.seed = 7;
    options.commands = {"fault * refuse rate=0.5"};
    em1sim::Simulator simulator(options);
    PtyClient client(simulator.SlavePath());
    int refused = 0;
    for (int i = 0; i < 20; ++i)
        refused += client.Ask("L01S?\r") == "?\r\x03" ? 1 : 0;
    EXPECT_GT(refused, 2);
    EXPECT_LT(refused, 18);
}

TEST(Faults, RefusedOrLostWritesAreNotCarriedOutButSpoiledRepliesAre) {
    em1sim::Simulator simulator;
    simulator.Fault("L01S=1 refuse count=1");
    simulator.Fault("L01S=2 silence count=1");
    simulator.Fault("L01S=3 noterm count=1");
    PtyClient client(simulator.SlavePath());
    EXPECT_EQ(client.Ask("L01S=1\r", '\n'), "?\r\n");
    client.Send("L01S=2\r");
    EXPECT_EQ(client.ReadFor(200ms), "");
    EXPECT_EQ(simulator.Get("L01S"), "26.0");
    client.Send("L01S=3\r");
    EXPECT_EQ(client.ReadFor(1000ms), "L01S=3.0 ***\r");
    EXPECT_EQ(simulator.Get("L01S"), "3.0");
}

TEST(Faults, HangUpKeepsStateAndTheLinkFollowsTheNewLine) {
    const std::string link = testing::TempDir() + "em1sim_link_" + std::to_string(::getpid());
    em1sim::Options options;
    options.link = link;
    em1sim::Simulator simulator(options);
    simulator.Fault("SX hangup delay=300");
    const std::string firstPath = simulator.SlavePath();
    EXPECT_EQ(std::filesystem::read_symlink(link), firstPath);
    // The first peer keeps the old line open, so the new one cannot take its number.
    PtyClient first(link);
    EXPECT_EQ(first.Ask("L01S=55\r", '\n'), "L01S=55.0 ***\r\n");
    first.Send("SX\r");
    EXPECT_TRUE(first.SeesHangUp(10000ms));
    EXPECT_FALSE(std::filesystem::is_symlink(link)) << "no device while the line is down";
    ASSERT_TRUE(sim_test::Eventually([&] { return !simulator.SlavePath().empty(); }));
    EXPECT_NE(simulator.SlavePath(), firstPath);
    EXPECT_EQ(std::filesystem::read_symlink(link), simulator.SlavePath());
    PtyClient second(link);
    EXPECT_EQ(second.Ask("L01S?\r"), "L01S=55.0\r\x03");
    simulator.Stop();
    EXPECT_FALSE(std::filesystem::is_symlink(link));
}

TEST(Faults, HangUpAfterPartOfTheReply) {
    em1sim::Simulator simulator;
    simulator.Fault("L01S? hangup bytes=4 delay=300 count=1");
    PtyClient client(simulator.SlavePath());
    client.Send("L01S?\r");
    EXPECT_EQ(client.ReadUntil(kEtx, 10000ms), "L01S") << "then the line hangs up";
    EXPECT_TRUE(client.SeesHangUp(10000ms));
    ASSERT_TRUE(sim_test::Eventually([&] { return !simulator.SlavePath().empty(); }));
    PtyClient second(simulator.SlavePath());
    EXPECT_EQ(second.Ask("L01S?\r"), kReply);
}

// The kinds named by the trace's fault events, in order: "fault KIND on ...".
std::vector<std::string> FiredKinds(const em1sim::Simulator &simulator) {
    std::vector<std::string> kinds;
    for (const auto &entry : simulator.TraceEntries())
        if (entry.kind == em1sim::TraceEntry::Kind::kEvent && entry.text.starts_with("fault "))
            kinds.push_back(entry.text.substr(6, entry.text.find(' ', 6) - 6));
    return kinds;
}

// Each firing of a random rule is one of the kinds that spoil a reply, named in the trace.
TEST(Faults, RandomRulePicksEverySpoilingKind) {
    em1sim::Options options;
    options.commands = {"fault L01S? random delay=50"};
    em1sim::Simulator simulator(options);
    std::set<std::string> kinds;
    for (std::size_t fired = 1; fired <= 100 && kinds.size() < 11; ++fired) {
        ASSERT_TRUE(sim_test::Eventually([&] { return !simulator.SlavePath().empty(); }));
        PtyClient client(simulator.SlavePath());
        client.Send("L01S?\r");
        ASSERT_TRUE(sim_test::Eventually([&] { return FiredKinds(simulator).size() == fired; }));
        kinds.insert(FiredKinds(simulator).back());
    }
    EXPECT_EQ(kinds,
              (std::set<std::string>{"silence", "refuse", "empty", "partial", "split", "garbage",
                                     "noterm", "flood", "late", "hangup", "foreign"}));
}

TEST(Faults, PeerMayCloseAndReopenTheLine) {
    em1sim::Simulator simulator;
    for (int round = 0; round < 3; ++round) {
        PtyClient client(simulator.SlavePath());
        EXPECT_EQ(client.Ask("L01S?\r"), kReply) << "round " << round;
    }
}

} // namespace
