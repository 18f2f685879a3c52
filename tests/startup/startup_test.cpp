// Start-up and port commands against the scripted instrument on a virtual clock.
#include "em_driver.h"
#include "log_capture.h"
#include "scripted_line.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr int kDriverNumber = 4;

std::vector<LogLine> Lines(std::initializer_list<LogLine> lines) {
    return lines;
}

class StartupTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Line().Reset();
        ClearCapturedLog();
    }
    static ScriptedLine &Line() { return ScriptedLine::Instance(); }

    std::int32_t Call(std::int32_t command, void *params = nullptr) {
        DriverCall call{&state, command, kDriverNumber, 0, params};
        return ZelMain(&call);
    }
    std::int32_t ColdStart(const char *port = "ttyS3", std::int32_t timeout = 150,
                           std::int32_t enabled = 1) {
        ColdStartParameters params{};
        std::strncpy(params.portName, port, sizeof params.portName - 1);
        params.enabled = enabled;
        params.replyTimeout = timeout;
        params.line = LineSettings{9600, 8, 0, 2};
        return Call(EM_CMD_COLD_START, &params);
    }
    std::int32_t Reopen(const char *port, std::int32_t timeout) {
        ReopenPortParameters params{};
        std::strncpy(params.portName, port, sizeof params.portName - 1);
        params.replyTimeout = timeout;
        params.line = LineSettings{19200, 7, 2, 1};
        return Call(EM_CMD_REOPEN_PORT, &params);
    }
    // The instrument answers every adapter request; "S?" with "***" skips the reset.
    static void ScriptDialogue(bool fastStart = true) {
        Line().Expect("S?\r").Reply(fastStart ? "***\r\x03" : "OK\r\x03");
        if (!fastStart) {
            Line().Expect("SI\r").Reply("SI\r\x03");
        }
        Line().Expect("DF\r").Reply("DF\r\x03");
        Line().Expect("DLSV%X\r").Reply("DLSV\r\n");
        Line().Expect("DMVX\r").Reply("DMVX\r\n");
    }
    std::vector<std::string> Requests() const {
        std::vector<std::string> sent;
        for (const auto &write : Line().Writes()) {
            sent.push_back(write.bytes);
        }
        return sent;
    }

    DriverState state{};
};

TEST_F(StartupTest, DisabledColdStartOpensNothingAndLogsNothing) {
    state.replyTerminator = 10;
    EXPECT_EQ(ColdStart("ttyS3", 150, 0), 0);
    EXPECT_EQ(state.enabled, 0);
    EXPECT_EQ(state.replyTerminator, 3);
    EXPECT_EQ(state.portHandle, 0u);
    EXPECT_TRUE(Line().Opens().empty());
    EXPECT_TRUE(CapturedLog().empty());
}

TEST_F(StartupTest, FastColdStartSkipsTheResetAndStoresTheInstance) {
    ScriptDialogue();
    state.reserved = 0x55;
    EXPECT_EQ(ColdStart(), 0);
    EXPECT_EQ(Requests(), (std::vector<std::string>{"S?\r", "DF\r", "DLSV%X\r", "DMVX\r"}));
    EXPECT_EQ(Line().Now(), 4u * 250u) << "four exchanges of 250 ms, no 30 s wait";
    EXPECT_NE(state.portHandle, 0u);
    EXPECT_EQ(state.adapterReady, 1);
    EXPECT_EQ(state.replyTerminator, 3);
    EXPECT_EQ(state.reserved, 0);
    EXPECT_EQ(state.replyTimeout, 150);
    EXPECT_STREQ(state.port.portName, "ttyS3");
    EXPECT_EQ(state.port.openFlags, 0x0200);
    EXPECT_EQ(state.port.line.baudRate, 9600);
    EXPECT_EQ(state.port.line.parity, 2);
    ASSERT_EQ(Line().Opens().size(), 1u);
    EXPECT_EQ(Line().Opens()[0].openFlags, 0x0200);
    EXPECT_EQ(Line().Timeouts(), (std::vector<std::int32_t>{150, 200, 150}));
    EXPECT_EQ(Line().ReadTimeoutMs(state.portHandle), 1500);
    EXPECT_EQ(CapturedLog(),
              Lines({{32, "ZEL04: EM: ColdStart(): EM-1 Driver loaded successfully"}}));
}

TEST_F(StartupTest, SlowColdStartSendsTheResetAndWaitsThirtySeconds) {
    ScriptDialogue(false);
    EXPECT_EQ(ColdStart(), 0);
    EXPECT_EQ(Requests(), (std::vector<std::string>{"S?\r", "SI\r", "DF\r", "DLSV%X\r", "DMVX\r"}));
    EXPECT_EQ(Line().Now(), 5u * 250u + 30000u);
    EXPECT_EQ(Line().Pauses().size(), 5u * 2u + 1u);
    EXPECT_EQ(state.adapterReady, 1);
}

TEST_F(StartupTest, ReplyTimeoutIsRaisedToTheMinimumButReachesThePortUnchangedFirst) {
    for (const std::int32_t given : {0, -5, 99, 100, 101}) {
        SetUp();
        state = DriverState{};
        ScriptDialogue();
        EXPECT_EQ(ColdStart("ttyS3", given), 0);
        const std::int32_t stored = given < 100 ? 100 : given;
        EXPECT_EQ(state.replyTimeout, stored) << given;
        EXPECT_EQ(Line().Timeouts(), (std::vector<std::int32_t>{given, 200, stored})) << given;
    }
}

struct DialogueFailure {
    const char *name;
    int failingStep; // index into the requests of the fast dialogue
    const char *reply;
    std::int32_t result;
};

class DialogueFailureTest : public StartupTest,
                            public ::testing::WithParamInterface<DialogueFailure> {};

TEST_P(DialogueFailureTest, StopsAtTheFailingStepAndRestoresTheLine) {
    const DialogueFailure &failure = GetParam();
    const std::vector<std::pair<std::string, std::string>> steps = {
        {"S?\r", "***\r\x03"}, {"DF\r", "DF\r\x03"}, {"DLSV%X\r", "DLSV\r\n"}, {"DMVX\r", "ok\n"}};
    std::vector<std::string> expected;
    for (int i = 0; i <= failure.failingStep; ++i) {
        const bool failing = i == failure.failingStep;
        Line().Expect(steps[i].first).Reply(failing ? failure.reply : steps[i].second);
        expected.push_back(steps[i].first);
    }
    EXPECT_EQ(ColdStart(), 0) << "ColdStart succeeds whatever the dialogue gives";
    EXPECT_EQ(Requests(), expected);
    EXPECT_EQ(state.adapterReady, 0);
    EXPECT_EQ(state.replyTerminator, 3);
    EXPECT_EQ(Line().Timeouts().back(), 150);
    const std::string rc = std::to_string(failure.result);
    EXPECT_EQ(CapturedLog(), Lines({{32, "ZEL04: EM: ConfigureAdapter(): fail rc = " + rc},
                                    {32, "ZEL04: EM: ColdStart(): Fail rc = " + rc + " "}}));
}

INSTANTIATE_TEST_SUITE_P(EveryStep, DialogueFailureTest,
                         ::testing::Values(DialogueFailure{"StatusRefused", 0, "?\r\x03", 5},
                                           DialogueFailure{"StatusSilent", 0, "", 5},
                                           DialogueFailure{"RefusalWinsOverStars", 0, "?***\r\x03",
                                                           5},
                                           DialogueFailure{"DisplayRefused", 1, "?\x03", 5},
                                           DialogueFailure{"LoopSetupRefused", 2, "?\n", 5},
                                           DialogueFailure{"ModuleSetupRefused", 3, "?\n", 1},
                                           DialogueFailure{"ModuleSetupSilent", 3, "", 2}),
                         [](const auto &info) { return std::string(info.param.name); });

// The instrument answers every request that reaches it, but the line fails for every write
// from one request on: the step whose request was not sent fails as if nothing came back,
// never on the reply of the step before.
struct UnsentStep {
    const char *name;
    bool fastStart;
    std::size_t sentWrites; // requests that go out before the line fails
    std::int32_t result;
};

class UnsentStepTest : public StartupTest, public ::testing::WithParamInterface<UnsentStep> {};

TEST_P(UnsentStepTest, FailsOnItsOwnEmptyReply) {
    const UnsentStep &step = GetParam();
    ScriptDialogue(step.fastStart);
    Line().FailWritesAfter(step.sentWrites);

    EXPECT_EQ(ColdStart(), 0);

    EXPECT_EQ(Line().Writes().size(), step.sentWrites);
    EXPECT_EQ(state.adapterReady, 0);
    const std::string rc = std::to_string(step.result);
    EXPECT_EQ(CapturedLog(), Lines({{32, "ZEL04: EM: ConfigureAdapter(): fail rc = " + rc},
                                    {32, "ZEL04: EM: ColdStart(): Fail rc = " + rc + " "}}));
}

INSTANTIATE_TEST_SUITE_P(EveryStep, UnsentStepTest,
                         ::testing::Values(UnsentStep{"Status", true, 0, 5},
                                           UnsentStep{"Reset", false, 1, 5},
                                           UnsentStep{"Display", true, 1, 5},
                                           UnsentStep{"LoopSetup", true, 2, 5},
                                           UnsentStep{"ModuleSetup", true, 3, 2}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(StartupTest, ResetRefusedFailsBeforeTheWait) {
    Line().Expect("S?\r").Reply("OK\r\x03");
    Line().Expect("SI\r").Reply("?\x03");
    EXPECT_EQ(ColdStart(), 0);
    EXPECT_EQ(Requests(), (std::vector<std::string>{"S?\r", "SI\r"}));
    EXPECT_EQ(Line().Now(), 2u * 250u) << "no 30 s wait after a refused reset";
    EXPECT_EQ(state.adapterReady, 0);
}

TEST_F(StartupTest, ColdStartThatCannotOpenKeepsThePreviousPort) {
    state.portHandle = 77;
    state.replyTimeout = 300;
    std::strcpy(state.port.portName, "old");
    Line().FailNextOpen(SerialResult::kOpenFailed);
    EXPECT_EQ(ColdStart("ttyUSB9"), 2);
    EXPECT_EQ(state.portHandle, 77u);
    EXPECT_EQ(state.replyTimeout, 300);
    EXPECT_STREQ(state.port.portName, "old");
    EXPECT_EQ(state.enabled, 1);
    EXPECT_EQ(CapturedLog(), Lines({{32, "ZEL04: EM: ColdStart(): Fail to open ttyUSB9"}}));
}

TEST_F(StartupTest, PortNamesWithoutTheirNulAreRefusedUnread) {
    const char full[12] = {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L'};
    ColdStartParameters cold{};
    std::memcpy(cold.portName, full, sizeof full);
    cold.enabled = 1;
    EXPECT_EQ(Call(EM_CMD_COLD_START, &cold), 2);
    EXPECT_EQ(CapturedLog(), Lines({{32, "ZEL04: EM: ColdStart(): Fail to open ABCDEFGHIJK"}}));

    ReopenPortParameters reopen{};
    std::memcpy(reopen.portName, full, sizeof full);
    reopen.replyTimeout = 50;
    EXPECT_EQ(Call(EM_CMD_REOPEN_PORT, &reopen), 2);
    EXPECT_EQ(state.replyTimeout, 0) << "nothing stored";

    std::memcpy(state.port.portName, full, sizeof full);
    EXPECT_EQ(Call(EM_CMD_OPEN_PORT), 2);
    EXPECT_TRUE(Line().Opens().empty());
}

TEST_F(StartupTest, ColdStartOverAnOpenPortClosesTheOldHandle) {
    ScriptDialogue();
    ASSERT_EQ(ColdStart("ttyS1"), 0);
    const SerialHandle first = state.portHandle;
    ScriptDialogue();
    ASSERT_EQ(ColdStart("ttyS2"), 0);
    EXPECT_NE(state.portHandle, first);
    EXPECT_EQ(Line().Closes(), (std::vector<SerialHandle>{first}));
}

TEST_F(StartupTest, WarmStartWithoutPortSucceedsSilently) {
    EXPECT_EQ(Call(EM_CMD_WARM_START), 0);
    EXPECT_TRUE(Line().Writes().empty());
    EXPECT_EQ(CapturedLog(), Lines({{32, "ZEL04: EM: WarmStart(): ended successfully rc = 0"}}));
}

TEST_F(StartupTest, WarmStartPurgesAndRerunsTheDialogue) {
    ScriptDialogue();
    ASSERT_EQ(ColdStart(), 0);
    ClearCapturedLog();
    Line().Expect("S?\r").Reply("***\r\x03");
    Line().Expect("DF\r").Reply("?\x03");
    const std::size_t purgesBefore = Line().Purges().size();
    EXPECT_EQ(Call(EM_CMD_WARM_START), 5);
    EXPECT_GT(Line().Purges().size(), purgesBefore);
    EXPECT_EQ(state.adapterReady, 0);
    EXPECT_EQ(CapturedLog(), Lines({{32, "ZEL04: EM: ConfigureAdapter(): fail rc = 5"},
                                    {32, "ZEL04: EM: WarmStart(): Fail rc = 5 "}}));
}

TEST_F(StartupTest, ClosePortKeepsTheHandleWhenThePlatformRefuses) {
    ScriptDialogue();
    ASSERT_EQ(ColdStart(), 0);
    const SerialHandle handle = state.portHandle;
    Line().FailNextClose();
    EXPECT_EQ(Call(EM_CMD_CLOSE_PORT), 2);
    EXPECT_EQ(state.portHandle, handle);
    EXPECT_EQ(Call(EM_CMD_SHUTDOWN), 0);
    EXPECT_EQ(state.portHandle, 0u);
    EXPECT_EQ(state.adapterReady, 1);
    EXPECT_EQ(state.enabled, 1);
}

TEST_F(StartupTest, FailedCloseThatReleasedThePortForgetsItsNumber) {
    ScriptDialogue();
    ASSERT_EQ(ColdStart(), 0);
    Line().FailNextClose(true);
    EXPECT_EQ(Call(EM_CMD_CLOSE_PORT), 2);
    EXPECT_EQ(state.portHandle, 0u) << "the number may belong to something else by now";
    EXPECT_EQ(Call(EM_CMD_WARM_START), 0);
    EXPECT_EQ(Line().Writes().size(), 4u) << "nothing more is sent";
    EXPECT_EQ(Line().Closes().size(), 1u);
}

// Another instance's thread may open a port under the number a close has just given back: the
// closing instance forgets the number and never acts on that port.
TEST_F(StartupTest, ClosedNumberHandedToAnotherPortIsForgotten) {
    ScriptDialogue();
    ASSERT_EQ(ColdStart(), 0);
    const SerialHandle handle = state.portHandle;
    Line().HandOutNextClosedNumber();
    EXPECT_EQ(Call(EM_CMD_CLOSE_PORT), 0);
    EXPECT_EQ(state.portHandle, 0u);
    ASSERT_TRUE(Line().Holds(handle)) << "the other instance's port";
    EXPECT_EQ(Call(EM_CMD_WARM_START), 0);
    EXPECT_EQ(Line().Writes().size(), 4u) << "nothing is sent on the other instance's port";
    EXPECT_EQ(Line().Closes().size(), 1u);
}

// A record the host did not zero, or one naming a port that has been closed since, holds a
// handle this library does not hold: the port commands forget it and never close it.
TEST_F(StartupTest, NoCommandClosesAHandleTheLibraryDoesNotHold) {
    SerialHandle closedSince = 0;
    ASSERT_EQ(SerialOpen(PortSettings{"ttyS7", {9600, 8, 0, 0}, 0}, closedSince),
              SerialResult::kOk);
    ASSERT_EQ(SerialClose(closedSince), SerialResult::kOk);
    const SerialHandle madeUp = 0x5A5A5A5A;

    const struct {
        const char *name;
        std::function<std::int32_t()> run;
        bool opens;
    } commands[] = {
        {"ColdStart", [this] { return ColdStart(); }, true},
        {"OpenPort", [this] { return Call(EM_CMD_OPEN_PORT); }, true},
        {"ReopenPort same name", [this] { return Reopen("ttyS3", 0); }, true},
        {"ReopenPort new name", [this] { return Reopen("ttyS4", 0); }, true},
        {"ClosePort", [this] { return Call(EM_CMD_CLOSE_PORT); }, false},
    };
    for (const SerialHandle foreign : {closedSince, madeUp}) {
        for (const auto &command : commands) {
            state = DriverState{};
            std::strcpy(state.port.portName, "ttyS3");
            state.portHandle = foreign;
            ScriptDialogue();
            const std::size_t closesBefore = Line().Closes().size();

            EXPECT_EQ(command.run(), 0) << command.name;

            EXPECT_EQ(Line().Closes().size(), closesBefore) << command.name << " " << foreign;
            EXPECT_NE(state.portHandle, foreign) << command.name;
            EXPECT_EQ(state.portHandle != 0, command.opens) << command.name;
        }
    }
}

TEST_F(StartupTest, OpenPortEnablesAndLeavesTimeoutsAlone) {
    ASSERT_EQ(ColdStart("ttyS3", 150, 0), 0);
    std::strcpy(state.port.portName, "ttyS3");
    Line().FailNextOpen(SerialResult::kStateRejected);
    EXPECT_EQ(Call(EM_CMD_OPEN_PORT), 2);
    EXPECT_EQ(state.enabled, 0);
    EXPECT_EQ(Call(EM_CMD_OPEN_PORT), 0);
    EXPECT_EQ(state.enabled, 1);
    EXPECT_NE(state.portHandle, 0u);
    EXPECT_TRUE(Line().Timeouts().empty());
    EXPECT_TRUE(Line().Writes().empty());
    EXPECT_TRUE(CapturedLog().empty());
}

TEST_F(StartupTest, ReopenPortStoresBeforeItOpens) {
    ScriptDialogue();
    ASSERT_EQ(ColdStart("ttyS1"), 0);
    const SerialHandle first = state.portHandle;

    EXPECT_EQ(Reopen("ttyS1", 0), 0) << "same name: no close before the open";
    EXPECT_EQ(state.replyTimeout, 150);
    EXPECT_EQ(Line().Closes(), (std::vector<SerialHandle>{first}))
        << "the handle it replaces is closed after the new open";
    const SerialHandle second = state.portHandle;

    Line().FailNextOpen(SerialResult::kOpenFailed);
    EXPECT_EQ(Reopen("ttyS2", 50), 2);
    EXPECT_EQ(state.portHandle, 0u) << "the old port closed for the new name";
    EXPECT_EQ(Line().Closes().back(), second);
    EXPECT_EQ(state.replyTimeout, 50) << "no minimum";
    EXPECT_STREQ(state.port.portName, "ttyS2");
    EXPECT_EQ(state.port.line.baudRate, 19200);
    EXPECT_EQ(state.port.openFlags, 0x0200) << "open flags stay";
    EXPECT_TRUE(CapturedLog().size() == 1) << "only ColdStart logged";
}

TEST_F(StartupTest, NegativeStoredTimeoutNeverReachesThePort) {
    ScriptDialogue();
    ASSERT_EQ(ColdStart("ttyS1"), 0);
    ASSERT_EQ(Call(EM_CMD_CLOSE_PORT), 0);
    ASSERT_EQ(Reopen("ttyS1", -20), 0);
    EXPECT_EQ(state.replyTimeout, -20);
    ScriptDialogue();
    EXPECT_EQ(Call(EM_CMD_WARM_START), 0);
    EXPECT_EQ(Line().Timeouts().back(), 100);
    EXPECT_EQ(Line().ReadTimeoutMs(state.portHandle), 1000);
}

} // namespace
